// Test environment helpers shared by every test executable.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testenv {

// This process's own temporary folder (TMP/TEMP point here; ends in '\').
std::string TempDir();
std::wstring TempDirW();

// Creates (or removes) "<temp>\xellog_QOR_ZAF" so the log writer writes.
void EnableLog();
void DisableLog();
std::string LogPath();
std::string ReadLog();  // whole log file, empty when absent
std::vector<std::string> LogLines();  // split at CR LF
// True when some log line contains `text`.
bool LogHas(const std::string& text);
size_t LogCount(const std::string& text);

std::wstring BinDir();       // the program and the stand-in DLLs
std::wstring TestDataDir();  // generated fixtures (certificates)
std::wstring TestBinDir();   // test executables and helper processes

std::string Narrow(const std::wstring& w);  // ANSI code page
std::wstring Widen(const std::string& s);

bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::string ReadFileBytes(const std::wstring& path);
void MakeDirs(const std::wstring& path);
void RemoveTree(const std::wstring& path);

} // namespace testenv
