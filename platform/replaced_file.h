// A file written whole beside its target and then put in its place, so that
// a reader sees either the old file or the whole new one (velder-async.dll
// writes master lists with it).
//
// Windows: CreateFile, WriteFile and MoveFileEx, the path read as UTF-8 or,
// where it is not UTF-8, in the ANSI code page. POSIX: open, write and
// rename, which replaces the target in one step; the path's bytes as given.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velder::platform {

// The longest target path taken, in bytes: with the temporary name's suffix
// and its NUL it stays inside the path limit (MAX_PATH, 260 characters).
inline constexpr std::size_t kLongestTargetPath = 250;
inline constexpr char kTemporarySuffix[] = ".part";

struct ReplacedFile {
    std::intptr_t handle = 0;  // a HANDLE on Windows, a descriptor elsewhere
    bool open = false;
    char temporary[kLongestTargetPath + sizeof kTemporarySuffix];
    unsigned char pending[4096];  // written out when full and on Finish
    std::size_t used = 0;
    bool failed = false;  // a write failed: Finish will refuse
};

// Creates (or empties) `target` + ".part". False when the path is longer
// than kLongestTargetPath or the system refuses; nothing is left open then.
bool BeginReplacedFile(const char* target, ReplacedFile* file);
// Adds bytes; false once a write has failed.
bool AppendToFile(ReplacedFile* file, const char* bytes, std::size_t length);
// Writes what is pending, closes the file and moves it over `target`
// (replacing it). False when any step failed; the temporary file is
// removed then.
bool FinishReplacedFile(ReplacedFile* file, const char* target);
// Closes and removes the temporary file; `target` is left as it was.
void AbandonReplacedFile(ReplacedFile* file);

// The steps each system does its own way, for the functions above.
// Creates (or empties) file->temporary and opens it for writing.
bool OpenTemporary(ReplacedFile* file);
// Writes out what is pending; false once a write has failed.
bool WritePending(ReplacedFile* file);

}  // namespace velder::platform
