// Small services on disk files named as engine names ("save/...", "user/...")
// beside Lib_FileSave: make a folder, remove a file, copy a file. Archive
// members are not reached.
#pragma once

// Creates the folder and any missing parents (an existing one is fine).
// False on failure.
bool Lib_FolderMake(const char* name);
// Removes the file and makes the removal durable (folder fsync). True when
// the file is gone, also when it never existed.
bool Lib_FileRemove(const char* name);
// Copies a regular file whole, replacing `to` atomically (temporary file,
// fsync, rename, folder fsync). False on failure, and for a `from` that is
// not a regular file (nothing waits on a FIFO).
bool Lib_FileCopy(const char* from, const char* to);
