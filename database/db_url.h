// The passwords a connection URL holds, found without libpq, so that neither
// a masked URL nor a message can show one.
#pragma once

#include <string>
#include <vector>

// Each password in the URL as written and as libpq would read it (unquoted,
// unescaped, percent-decoded); empty ones are left out.
std::vector<std::string> passwordsInDbUrl(const std::string& url);

// `text` with every occurrence of each password replaced by "***".
std::string withoutPasswords(std::string text, const std::vector<std::string>& passwords);
