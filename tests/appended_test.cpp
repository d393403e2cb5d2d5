#include "acquire/appended.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "acquire/trailer.h"
#include "launcher/handle.h"
#include "launcher/layout.h"

namespace {

using Bytes = std::vector<unsigned char>;

std::wstring TempFolder()
{
    wchar_t folder[MAX_PATH] = {};
    const DWORD length = GetTempPathW(MAX_PATH, folder);
    return {folder, length < MAX_PATH ? length : 0};
}

std::set<std::wstring> FolderNames(const std::wstring& folder)
{
    std::set<std::wstring> names;
    WIN32_FIND_DATAW found = {};
    const HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        names.insert(found.cFileName);
    } while (FindNextFileW(search, &found) != FALSE);
    FindClose(search);
    return names;
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WriteBytes(const std::wstring& path, const Bytes& bytes)
{
    const FileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1U << 24U));
        DWORD written = 0;
        if (WriteFile(file.Get(), bytes.data() + done, chunk, &written, nullptr) == FALSE || written == 0) {
            return false;
        }
        done += written;
    }
    return true;
}

// The file's bytes; ok false when it can't be read.
Bytes ReadBytes(const std::wstring& path, bool& ok)
{
    ok = false;
    Bytes bytes;
    const FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size = {};
    if (!file.Valid() || GetFileSizeEx(file.Get(), &size) == FALSE) {
        return bytes;
    }
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD read = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1U << 24U));
        if (ReadFile(file.Get(), bytes.data() + done, chunk, &read, nullptr) == FALSE || read == 0) {
            return bytes;
        }
        done += read;
    }
    ok = true;
    return bytes;
}

// Bytes that differ from one seed to the next and hold no accidental magic.
Bytes Pattern(std::size_t size, std::uint32_t seed)
{
    Bytes bytes(size);
    std::uint32_t state = seed * 2654435761U + 1U;
    for (unsigned char& byte : bytes) {
        state ^= state << 13U;
        state ^= state >> 17U;
        state ^= state << 5U;
        byte = static_cast<unsigned char>(state >> 24U);
    }
    return bytes;
}

Bytes Concat(Bytes first, const Bytes& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// body followed by a trailer with this magic and length.
Bytes WithTrailer(const Bytes& body, const char* magic, std::uint64_t length)
{
    ArchiveTrailer trailer = MakeTrailer(length);
    std::memcpy(trailer.data(), magic, TrailerMagic.size());
    return Concat(body, Bytes(trailer.begin(), trailer.end()));
}

// Checks that the file at path holds exactly expected; reports at the caller.
void ExpectFileHolds(const char* file, int line, const std::wstring& path, const Bytes& expected)
{
    const ::testing::ScopedTrace trace(file, line, "file contents");
    bool ok = false;
    const Bytes actual = ReadBytes(path, ok);
    ASSERT_TRUE(ok) << "cannot read the file";
    ASSERT_EQ(actual.size(), expected.size());
    const auto difference = std::mismatch(actual.begin(), actual.end(), expected.begin());
    EXPECT_TRUE(difference.first == actual.end())
        << "first difference at offset " << (difference.first - actual.begin());
}
#define EXPECT_FILE_HOLDS(path, expected) ExpectFileHolds(__FILE__, __LINE__, path, expected)

// ExtractAppendedArchiveFrom on a file with no certificate table, which has
// no signature to fail.
std::wstring ExtractUnsigned(const wchar_t* source)
{
    bool unverified = true;
    std::wstring result = ExtractAppendedArchiveFrom(source, unverified);
    EXPECT_FALSE(unverified) << "a file without a certificate table counted as unverified";
    return result;
}

class AppendedArchive : public ::testing::Test {
protected:
    void SetUp() override
    {
        scratch_ = TempFolder() + L"pivra-appended-test\\";
        CreateDirectoryW(scratch_.c_str(), nullptr);
        source_ = scratch_ + L"launcher.exe";
        DeleteFileW(TempArchivePath().c_str());
    }
    void TearDown() override
    {
        DeleteFileW(TempArchivePath().c_str());
        DeleteFileW(source_.c_str());
        RemoveDirectoryW(scratch_.c_str());
    }

    std::wstring scratch_;
    std::wstring source_;
};

TEST_F(AppendedArchive, TempArchivePathIsTheTempFolderAndTheArchiveName)
{
    ASSERT_FALSE(TempFolder().empty());
    EXPECT_EQ(TempArchivePath(), TempFolder() + L"PivraSuite-Windows.zip");
}

TEST_F(AppendedArchive, RejectedFilesCreateNothingAndLeaveAnOlderCopyAlone)
{
    const Bytes body = Pattern(5000, 1);
    struct Row {
        const char* what;
        Bytes file;
    };
    const Row rows[] = {
        {"nothing appended", Pattern(70000, 2)},
        {"empty file", {}},
        {"the trailer alone (S = 16)", WithTrailer({}, "PIVRAZIP", 1)},
        {"lower-case magic", WithTrailer(body, "pivrazip", 100)},
        {"one letter off", WithTrailer(body, "PIVRAZIQ", 100)},
        {"L = 0", WithTrailer(body, "PIVRAZIP", 0)},
        {"L = S - 15", WithTrailer(body, "PIVRAZIP", body.size() + 1)},
        {"L = 2^64 - 1", WithTrailer(body, "PIVRAZIP", ~0ULL)},
        {"L wraps around with the trailer", WithTrailer(body, "PIVRAZIP", ~0ULL - 15)},
        {"a byte after the trailer", Concat(WithTrailer(body, "PIVRAZIP", 100), {0})},
    };
    const Bytes older = Pattern(3000, 3);
    for (const bool olderCopy : {false, true}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(row.what) + (olderCopy ? ", with an older copy" : ""));
            ASSERT_TRUE(WriteBytes(source_, row.file));
            if (olderCopy) {
                ASSERT_TRUE(WriteBytes(TempArchivePath(), older));
            }
            const std::set<std::wstring> before = FolderNames(TempFolder());

            EXPECT_EQ(ExtractUnsigned(source_.c_str()), L"");

            EXPECT_EQ(FolderNames(TempFolder()), before);
            if (olderCopy) {
                EXPECT_FILE_HOLDS(TempArchivePath(), older);
            } else {
                EXPECT_FALSE(Exists(TempArchivePath()));
            }
        }
    }
}

TEST_F(AppendedArchive, MissingSourceGivesNothing)
{
    const std::set<std::wstring> before = FolderNames(TempFolder());
    EXPECT_EQ(ExtractUnsigned((scratch_ + L"no-such-launcher.exe").c_str()), L"");
    EXPECT_EQ(FolderNames(TempFolder()), before);
}

TEST_F(AppendedArchive, CopiesExactlyTheArchive)
{
    struct Row {
        const char* what;
        std::size_t launcherSize;
        std::size_t archiveSize;
    };
    const Row rows[] = {
        {"archive from offset 0 (L = S - 16)", 0, 1000}, {"one-byte file body (S = 17)", 0, 1},
        {"one byte after a launcher", 4096, 1},          {"exactly one buffer (1 MiB)", 4096, 1048576},
        {"one buffer and one byte", 4096, 1048577},      {"several buffers and a tail", 777, 3 * 1048576 + 5},
    };
    std::uint32_t seed = 10;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const Bytes archive = Pattern(row.archiveSize, ++seed);
        ASSERT_TRUE(WriteBytes(
            source_, WithTrailer(Concat(Pattern(row.launcherSize, ++seed), archive), "PIVRAZIP", archive.size())));

        EXPECT_EQ(ExtractUnsigned(source_.c_str()), TempArchivePath());

        EXPECT_FILE_HOLDS(TempArchivePath(), archive);
        DeleteFileW(TempArchivePath().c_str());
    }
}

TEST_F(AppendedArchive, ReplacesAnOlderCopy)
{
    // Longer than the new archive, so a copy that did not truncate shows.
    ASSERT_TRUE(WriteBytes(TempArchivePath(), Bytes(2 * 1048576 + 3, 0xA5)));
    const Bytes archive = Pattern(10000, 20);
    ASSERT_TRUE(WriteBytes(source_, WithTrailer(Concat(Pattern(2048, 21), archive), "PIVRAZIP", archive.size())));

    EXPECT_EQ(ExtractUnsigned(source_.c_str()), TempArchivePath());

    EXPECT_FILE_HOLDS(TempArchivePath(), archive);
}

TEST_F(AppendedArchive, OwnFileCarriesNone)
{
    // This test program ends in no trailer.
    const std::set<std::wstring> before = FolderNames(TempFolder());
    bool unverified = true;
    EXPECT_EQ(ExtractAppendedArchive(unverified), L"");
    EXPECT_FALSE(unverified);
    EXPECT_EQ(FolderNames(TempFolder()), before);
}

TEST_F(AppendedArchive, ReadsWhatTheBundlerWrote)
{
    // The launcher bundled at build time by pivra_bundle_launcher.
    bool ok = false;
    const Bytes zip = ReadBytes(PIVRA_APPENDED_ZIP_PATH, ok);
    ASSERT_TRUE(ok) << "cannot read the fixture zip";
    ASSERT_GT(zip.size(), 0U);

    EXPECT_EQ(ExtractUnsigned(PIVRA_APPENDED_BUNDLED_PATH), TempArchivePath());

    EXPECT_FILE_HOLDS(TempArchivePath(), zip);
}

std::uint32_t U32At(const Bytes& bytes, std::size_t offset)
{
    std::uint32_t value = 0;
    for (std::size_t i = 4; i > 0; --i) {
        value = (value << 8U) | bytes[offset + i - 1];
    }
    return value;
}

void PutU32(Bytes& bytes, std::size_t offset, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

TEST_F(AppendedArchive, SignedBundleGivesTheSignedArchiveOnlyWhenItsSignatureVerifies)
{
    // Bundled, then signed with osslsigncode at build time: the trailer
    // stands right before the certificate table.
    bool ok = false;
    const Bytes zip = ReadBytes(PIVRA_APPENDED_ZIP_PATH, ok);
    ASSERT_TRUE(ok) << "cannot read the fixture zip";
    const Bytes signedFile = ReadBytes(PIVRA_APPENDED_SIGNED_PATH, ok);
    ASSERT_TRUE(ok) << "cannot read the signed bundle";
    ASSERT_GT(signedFile.size(), 0x200U);
    const std::size_t entry = U32At(signedFile, 0x3C) + 24 + 144;  // PE32+: the certificate table's entry
    const std::uint32_t tableOffset = U32At(signedFile, entry);
    const std::uint32_t tableSize = U32At(signedFile, entry + 4);
    ASSERT_GT(tableSize, 0U) << "the bundle is not signed";
    ASSERT_EQ(tableOffset + std::uint64_t{tableSize}, signedFile.size());
    const Bytes untrusted = ReadBytes(PIVRA_APPENDED_UNTRUSTED_PATH, ok);
    ASSERT_TRUE(ok) << "cannot read the bundle signed by an untrusted CA";
    const Bytes tampered = ReadBytes(PIVRA_APPENDED_TAMPERED_PATH, ok);
    ASSERT_TRUE(ok) << "cannot read the tampered bundle";

    // Bytes outside the signed hash: after the table, or inside it (the
    // table grown over them). Neither may bring an archive of its own.
    const Bytes other = Pattern(7000, 40);
    const Bytes otherWithTrailer = WithTrailer(other, "PIVRAZIP", other.size());
    Bytes inTable = Concat(signedFile, otherWithTrailer);
    PutU32(inTable, entry + 4, tableSize + static_cast<std::uint32_t>(otherWithTrailer.size()));
    Bytes pastTheEnd = signedFile;
    PutU32(pastTheEnd, entry + 4, tableSize + 8);
    // Bytes the signature covers, changed after signing.
    Bytes archiveByte = signedFile;
    archiveByte[tableOffset - TrailerSize - zip.size() / 2] ^= 0x01U;
    Bytes zeroTable = signedFile;
    std::fill(zeroTable.begin() + tableOffset + 8, zeroTable.end(), 0);
    enum class Outcome { SignedArchive, Nothing, Refused };
    struct Row {
        const char* what;
        Bytes file;
        Outcome outcome;  // the signed archive copied out; no archive; refused as unverified
    };
    const Row rows[] = {
        {"as signed", signedFile, Outcome::SignedArchive},
        {"another archive appended after the table", Concat(signedFile, otherWithTrailer), Outcome::Nothing},
        {"another archive inside the grown table", inTable, Outcome::SignedArchive},
        {"a table that runs past the end", pastTheEnd, Outcome::Nothing},
        {"one archive byte flipped", archiveByte, Outcome::Refused},
        {"the signature zeroed", zeroTable, Outcome::Refused},
        {"one stored file changed, its CRC-32 fixed", tampered, Outcome::Refused},
        {"signed by a CA this machine does not trust", untrusted, Outcome::Refused},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(WriteBytes(source_, row.file));
        const std::set<std::wstring> before = FolderNames(TempFolder());

        bool unverified = row.outcome != Outcome::Refused;  // must be set either way
        const std::wstring result = ExtractAppendedArchiveFrom(source_.c_str(), unverified);

        EXPECT_EQ(unverified, row.outcome == Outcome::Refused);
        if (row.outcome == Outcome::SignedArchive) {
            EXPECT_EQ(result, TempArchivePath());
            EXPECT_FILE_HOLDS(TempArchivePath(), zip);
            DeleteFileW(TempArchivePath().c_str());
        } else {
            EXPECT_EQ(result, L"");
            EXPECT_EQ(FolderNames(TempFolder()), before);
        }
    }
}

// A copy that runs out of disk space. Registered only when PIVRA_SMALL_TEMP
// names a small file system (tests/bundle/full-disk.sh provides one); there
// is nothing to test without it, and that script checks that this ran.
class AppendedArchiveFullDisk : public ::testing::Test {
public:
    void TestBody() override
    {
        wchar_t small[MAX_PATH] = {};
        const DWORD smallLength = GetEnvironmentVariableW(L"PIVRA_SMALL_TEMP", small, MAX_PATH);
        ASSERT_GT(smallLength, 0U);
        ASSERT_LT(smallLength, static_cast<DWORD>(MAX_PATH));

        // The source lies in the usual temp folder, which has room.
        const std::wstring source = TempFolder() + L"pivra-full-disk-launcher.exe";
        const Bytes archive = Pattern(4 * 1048576 + 3, 30);
        ASSERT_TRUE(WriteBytes(source, WithTrailer(Concat(Pattern(4096, 31), archive), "PIVRAZIP", archive.size())));

        wchar_t oldTmp[MAX_PATH] = {};
        wchar_t oldTemp[MAX_PATH] = {};
        GetEnvironmentVariableW(L"TMP", oldTmp, MAX_PATH);
        GetEnvironmentVariableW(L"TEMP", oldTemp, MAX_PATH);
        SetEnvironmentVariableW(L"TMP", small);
        SetEnvironmentVariableW(L"TEMP", small);
        const std::wstring target = TempArchivePath();
        const Bytes older = Pattern(65536, 32);
        const bool olderWritten = WriteBytes(target, older);

        const std::wstring result = ExtractUnsigned(source.c_str());

        bool ok = false;
        const Bytes partial = ReadBytes(target, ok);
        DeleteFileW(target.c_str());
        SetEnvironmentVariableW(L"TMP", oldTmp[0] != L'\0' ? oldTmp : nullptr);
        SetEnvironmentVariableW(L"TEMP", oldTemp[0] != L'\0' ? oldTemp : nullptr);
        DeleteFileW(source.c_str());

        EXPECT_EQ(target, std::wstring(small) + L"PivraSuite-Windows.zip");
        EXPECT_TRUE(olderWritten);
        EXPECT_EQ(result, L"");
        ASSERT_TRUE(ok) << "no partial file was left";
        std::printf("partial copy: %zu of %zu bytes\n", partial.size(), archive.size());
        EXPECT_GT(partial.size(), 0U);
        EXPECT_LT(partial.size(), archive.size());
        // The older copy was replaced: what stands there is the archive's start.
        EXPECT_TRUE(std::equal(partial.begin(), partial.end(), archive.begin()));
    }
};

// NOLINTNEXTLINE(cert-err58-cpp): GoogleTest registers tests at static initialisation.
[[maybe_unused]] const bool FullDiskRegistered = [] {
    if (GetEnvironmentVariableW(L"PIVRA_SMALL_TEMP", nullptr, 0) == 0) {
        return false;
    }
    ::testing::RegisterTest("AppendedArchiveFullDisk", "CopyFailureLeavesThePartialFile", nullptr, nullptr, __FILE__,
                            __LINE__, []() -> ::testing::Test* { return new AppendedArchiveFullDisk; });
    return true;
}();

}  // namespace
