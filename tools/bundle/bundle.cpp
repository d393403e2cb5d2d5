#include "bundle.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <random>
#include <system_error>
#include <vector>

#include "acquire/trailer.h"
#include "pe_image.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t ChunkSize = 1U << 20U;

std::string Show(const fs::path& path)
{
    const std::u8string text = path.u8string();
    std::string shown(1, '\'');
    shown.append(text.begin(), text.end());
    shown += '\'';
    return shown;
}

BundleOutcome Refuse(BundleResult result, std::string message)
{
    BundleOutcome outcome;
    outcome.result = result;
    outcome.message = std::move(message);
    return outcome;
}

// The same file, or the same path once made absolute and normal.
bool SameFile(const fs::path& a, const fs::path& b)
{
    std::error_code error;
    if (fs::equivalent(a, b, error)) {
        return true;
    }
    std::error_code errorA;
    std::error_code errorB;
    const fs::path canonicalA = fs::weakly_canonical(a, errorA);
    const fs::path canonicalB = fs::weakly_canonical(b, errorB);
    return !errorA && !errorB && canonicalA == canonicalB;
}

// Why path can't be read as a regular file, or empty when it can.
std::string Unreadable(const fs::path& path)
{
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (status.type() == fs::file_type::not_found) {
        return "does not exist";
    }
    if (error) {
        return error.message();
    }
    if (status.type() != fs::file_type::regular) {
        return "is not a regular file";
    }
    return {};
}

bool ReadWhole(const fs::path& path, std::vector<unsigned char>& bytes)
{
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    if (error) {
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    bytes.resize(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    // One byte more would mean the file grew meanwhile.
    return static_cast<std::uintmax_t>(in.gcount()) == size && in.peek() == std::ifstream::traits_type::eof();
}

// A file beside the output that is removed again unless it was put in place.
class TempFile {
public:
    explicit TempFile(const fs::path& output)
    {
        std::random_device random;
        const fs::path folder = output.parent_path();
        for (int attempt = 0; attempt < 100; ++attempt) {
            fs::path name = ".";
            name += output.filename();
            name += ".";
            name += std::to_string(random() & 0xFFFFFFU);
            name += ".partial";
            fs::path candidate = folder / name;
            std::error_code error;
            if (!fs::exists(candidate, error) && !error) {
                path_ = std::move(candidate);
                return;
            }
        }
    }
    ~TempFile()
    {
        if (!path_.empty() && !placed_) {
            std::error_code error;
            fs::remove(path_, error);
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    [[nodiscard]] const fs::path& Path() const { return path_; }
    void Placed() { placed_ = true; }

private:
    fs::path path_;
    bool placed_ = false;
};

// The archive length the launcher finds in a file of fileSize bytes that
// starts with header and ends its trailer region in trailer, read as the
// launcher reads its own file; 0 when it finds none.
std::uint64_t FoundByLauncher(std::int64_t fileSize, const unsigned char* header, std::size_t headerSize,
                              const ArchiveTrailer& trailer)
{
    return TrailerEnd(fileSize, header, headerSize) == fileSize ? AppendedArchiveLength(fileSize, trailer) : 0;
}

// The same for a file written: its first PeHeaderReadSize bytes and last 16.
std::uint64_t FoundByLauncher(const fs::path& path)
{
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    std::ifstream in(path, std::ios::binary);
    if (error || !in || size < TrailerSize) {
        return 0;
    }
    std::vector<unsigned char> header(PeHeaderReadSize);
    in.read(reinterpret_cast<char*>(header.data()), static_cast<std::streamsize>(header.size()));
    header.resize(static_cast<std::size_t>(in.gcount()));
    in.clear();
    ArchiveTrailer trailer = {};
    in.seekg(static_cast<std::streamoff>(size - TrailerSize));
    in.read(reinterpret_cast<char*>(trailer.data()), static_cast<std::streamsize>(trailer.size()));
    if (static_cast<std::size_t>(in.gcount()) != TrailerSize) {
        return 0;
    }
    return FoundByLauncher(static_cast<std::int64_t>(size), header.data(), header.size(), trailer);
}

class Writer {
public:
    Writer(std::ofstream& out, PeChecksum* checksum) : out_(out), checksum_(checksum) {}
    bool Write(const unsigned char* data, std::size_t size)
    {
        if (checksum_ != nullptr) {
            checksum_->Add(data, size);
        }
        out_.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        return static_cast<bool>(out_);
    }

private:
    std::ofstream& out_;
    PeChecksum* checksum_;
};

}  // namespace

BundleOutcome BundleLauncher(const fs::path& launcher, const fs::path& archive, const fs::path& output)
{
    if (SameFile(output, launcher) || SameFile(output, archive)) {
        return Refuse(BundleResult::OutputIsInput,
                      "the output " + Show(output) + " is one of the inputs; name a new file");
    }
    std::error_code error;
    if (fs::is_directory(output, error)) {
        return Refuse(BundleResult::WriteFailed, "the output " + Show(output) + " is a folder");
    }

    if (const std::string why = Unreadable(launcher); !why.empty()) {
        return Refuse(BundleResult::LauncherUnreadable, "cannot read the launcher " + Show(launcher) + ": " + why);
    }
    std::vector<unsigned char> image;
    if (!ReadWhole(launcher, image)) {
        return Refuse(BundleResult::LauncherUnreadable, "cannot read the launcher " + Show(launcher));
    }

    if (const std::string why = Unreadable(archive); !why.empty()) {
        return Refuse(BundleResult::ArchiveUnreadable, "cannot read the archive " + Show(archive) + ": " + why);
    }
    const std::uintmax_t archiveLength = fs::file_size(archive, error);
    std::ifstream archiveIn(archive, std::ios::binary);
    if (error || !archiveIn) {
        return Refuse(BundleResult::ArchiveUnreadable, "cannot read the archive " + Show(archive));
    }
    if (archiveLength == 0) {
        return Refuse(BundleResult::ArchiveEmpty, "the archive " + Show(archive) + " is empty");
    }

    const auto imageSize = static_cast<std::int64_t>(image.size());
    const std::int64_t trailerEnd = TrailerEnd(imageSize, image.data(), image.size());
    if (trailerEnd > static_cast<std::int64_t>(TrailerSize)) {
        ArchiveTrailer trailer = {};
        std::copy(image.begin() + (trailerEnd - static_cast<std::int64_t>(TrailerSize)), image.begin() + trailerEnd,
                  trailer.begin());
        const std::uint64_t carried = AppendedArchiveLength(trailerEnd, trailer);
        if (carried != 0) {
            return Refuse(BundleResult::AlreadyBundled,
                          "the launcher " + Show(launcher) + " already carries an archive of " +
                              std::to_string(carried) + " bytes; bundle the plain launcher");
        }
    }

    PeImage pe;
    std::string why;
    if (!ReadPeImage(image, pe, why)) {
        return Refuse(BundleResult::NotPe, "the launcher " + Show(launcher) + " is not a PE file: " + why);
    }
    // The certificate table is left out of what a signature covers, and bytes
    // after it break the signature: an archive added to a signed file is
    // either unprotected or makes the file fail to verify.
    if (pe.hasSecurityEntry && (pe.certTableOffset != 0 || pe.certTableSize != 0)) {
        return Refuse(BundleResult::SignedLauncher,
                      "the launcher " + Show(launcher) +
                          " is signed; bundle the unsigned launcher first and sign the bundled file after, so that "
                          "the signature covers the archive");
    }
    // Signing tools pad the file to 8 bytes before they add the certificate
    // table; ending on that boundary keeps the trailer right before the table.
    const std::uint64_t padding = (8U - (image.size() + archiveLength + TrailerSize) % 8U) % 8U;
    // The launcher reads its headers from the first PeHeaderReadSize bytes
    // only; a file it would read no archive from is no bundle.
    const std::string outOfReach = "the launcher " + Show(launcher) +
                                   " would not find an archive appended to it (its PE headers must end within its "
                                   "first " +
                                   std::to_string(PeHeaderReadSize) + " bytes)";
    const std::uint64_t outputSize = image.size() + padding + archiveLength + TrailerSize;
    if (FoundByLauncher(static_cast<std::int64_t>(outputSize), image.data(), image.size(),
                        MakeTrailer(archiveLength)) != archiveLength) {
        return Refuse(BundleResult::ArchiveOutOfReach, outOfReach);
    }
    // A checksum that was set is kept right; one that was 0 stays 0.
    const bool updateChecksum = pe.checksum != 0;
    if (updateChecksum) {
        WriteU32(image, pe.checksumOffset, 0);
    }

    TempFile temp(output);
    if (temp.Path().empty()) {
        return Refuse(BundleResult::WriteFailed, "cannot find a free temp name beside " + Show(output));
    }
    std::ofstream out(temp.Path(), std::ios::binary | std::ios::trunc);
    if (!out) {
        return Refuse(BundleResult::WriteFailed, "cannot create " + Show(temp.Path()));
    }
    PeChecksum checksum;
    Writer writer(out, updateChecksum ? &checksum : nullptr);
    const auto writeFailed = [&] { return Refuse(BundleResult::WriteFailed, "cannot write " + Show(temp.Path())); };

    if (!writer.Write(image.data(), image.size())) {
        return writeFailed();
    }
    const unsigned char zeros[8] = {};
    if (!writer.Write(zeros, static_cast<std::size_t>(padding))) {
        return writeFailed();
    }
    std::vector<unsigned char> buffer(ChunkSize);
    std::uint64_t remaining = archiveLength;
    while (remaining > 0) {
        const std::size_t wanted = remaining < ChunkSize ? static_cast<std::size_t>(remaining) : ChunkSize;
        archiveIn.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(wanted));
        const auto delivered = static_cast<std::size_t>(archiveIn.gcount());
        if (delivered == 0) {
            return Refuse(BundleResult::ArchiveUnreadable,
                          "the archive " + Show(archive) + " ended early; did it change while bundling?");
        }
        if (!writer.Write(buffer.data(), delivered)) {
            return writeFailed();
        }
        remaining -= delivered;
    }
    const ArchiveTrailer trailer = MakeTrailer(archiveLength);
    if (!writer.Write(trailer.data(), trailer.size())) {
        return writeFailed();
    }
    if (updateChecksum) {
        std::vector<unsigned char> field(4);
        WriteU32(field, 0, checksum.Value());
        out.seekp(static_cast<std::streamoff>(pe.checksumOffset));
        out.write(reinterpret_cast<const char*>(field.data()), 4);
    }
    out.close();
    if (!out) {
        return writeFailed();
    }
    // What was written, read back as the launcher reads its own file.
    if (FoundByLauncher(temp.Path()) != archiveLength) {
        return Refuse(BundleResult::ArchiveOutOfReach, outOfReach);
    }

    // Executable if the launcher was (on hosts where that is a bit).
    std::error_code permissionError;
    const fs::perms permissions = fs::status(launcher, permissionError).permissions();
    if (!permissionError) {
        fs::permissions(temp.Path(), permissions, permissionError);
    }
    fs::rename(temp.Path(), output, error);
    if (error) {
        return Refuse(BundleResult::WriteFailed,
                      "cannot put the result in place at " + Show(output) + ": " + error.message());
    }
    temp.Placed();

    BundleOutcome outcome;
    outcome.padding = padding;
    outcome.archiveLength = archiveLength;
    return outcome;
}
