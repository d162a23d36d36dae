#pragma once

// The SHA-256 and size of the engine file as it was installed from a signed
// update, kept beside it ("<engine>.sha256"), so that an engine file changed
// on disk afterwards is never started, and is installed again instead.

#include <string>

// Hashes the engine file and writes the record; false when either fails.
bool RecordEngineFile(const std::string& enginePath);
// True when the file is there and matches its record; false without a record.
bool EngineFileMatchesRecord(const std::string& enginePath);
std::string EngineRecordPath(const std::string& enginePath);
