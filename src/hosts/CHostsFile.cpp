// The hosts block.
#include "hosts/CHostsFile.h"

CHostsFile::~CHostsFile() = default;
std::string CHostsFile::GetHostsPath() const { return {}; }
std::string CHostsFile::ReadHostsFile() const { return {}; }
bool CHostsFile::WriteHostsFile(const std::string&) { return false; }
bool CHostsFile::IsBlockActive() const { return false; }
bool CHostsFile::AddBlock() { return false; }
bool CHostsFile::RemoveBlock() { return false; }
bool FileExists(const std::string&) { return false; }
