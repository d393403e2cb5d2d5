// Writes a launcher that carries the suite's archive: launcher, archive,
// trailer, ending on an 8-byte boundary, ready to be signed. A launcher that
// is signed already is refused: its signature could not cover the archive.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

// The exit codes of pivra-bundle, one per kind of refusal.
enum class BundleResult : int {
    Done = 0,
    Internal = 1,            // out of memory and the like
    Usage = 2,               // wrong arguments
    LauncherUnreadable = 3,  // missing, not a regular file, or can't be read
    ArchiveUnreadable = 4,   // the same for the archive
    ArchiveEmpty = 5,
    AlreadyBundled = 6,  // the launcher ends in a valid trailer
    OutputIsInput = 7,   // the output path names an input
    NotPe = 8,
    SignedLauncher = 9,      // bundle first, sign after
    ArchiveOutOfReach = 10,  // the launcher would not find the archive in the output
    WriteFailed = 11,        // the output could not be written or put in place
};

struct BundleOutcome {
    BundleResult result = BundleResult::Done;
    std::string message;        // why, when result is not Done
    std::uint64_t padding = 0;  // zeros between the launcher and the archive
    std::uint64_t archiveLength = 0;
};

// Writes output from launcher and archive through a temp file beside it,
// renamed into place at the end; after a refusal or failure no file is left
// at output nor beside it (an output that was there before stays untouched).
BundleOutcome BundleLauncher(const std::filesystem::path& launcher, const std::filesystem::path& archive,
                             const std::filesystem::path& output);
