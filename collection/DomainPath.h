// DomainPath.h: the directory paths built from the domain's names.
//
// Plain C++ with no Windows headers, so that it also builds natively (fuzzing).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kalvora {

// Cuts a DNS name into its labels at the dots, dropping empty ones, at most
// ten times; what is left after that is the last label, dots and all (and is
// kept even when empty).
std::vector<std::wstring> CutDomainLabels(std::wstring_view dnsName);

// "DC=label1,DC=label2,...": the domain's naming context.
std::wstring NamingContext(const std::vector<std::wstring>& labels);

// The LDAP path of the container whose users are listed: the organizational
// unit `unit`, or the users container when unit is empty or holds "...".
// The first label serves as the server.
std::wstring UsersContainerPath(const std::vector<std::wstring>& labels, std::wstring_view unit);

// The LDAP path of the domain's root, where its organizational units are.
std::wstring DomainRootPath(const std::vector<std::wstring>& labels);

}  // namespace kalvora
