// Certificate verbs of vistrel-driver, for tests that serve HTTPS from a certificate of their own:
//   vistrel-driver trust-cert FILE.der   adds the certificate to the user's trusted root store
// Removing it again is done through the registry (wine reg delete), since Wine's
// CertDeleteCertificateFromStore leaves the user store's registry key behind.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <string>
#include <vector>

#include "driver.h"

namespace {

std::vector<BYTE> ReadBytes(const std::wstring& path) {
  std::vector<BYTE> bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  BYTE buffer[4096];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.insert(bytes.end(), buffer, buffer + read);
  CloseHandle(file);
  return bytes;
}

int TrustCertificate(const std::wstring& path) {
  const std::vector<BYTE> der = ReadBytes(path);
  if (der.empty()) {
    std::fwprintf(stderr, L"cannot read %ls\n", path.c_str());
    return 1;
  }
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
  if (!store) return 1;
  const BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                      static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                                      nullptr);
  if (!added) std::fwprintf(stderr, L"CertAddEncodedCertificateToStore failed: %lu\n", GetLastError());
  CertCloseStore(store, 0);
  return added ? 0 : 1;
}

}  // namespace

int RunCertificateCommand(const Options& o) {
  if (o.words[0] != L"trust-cert") return -1;
  return o.words.size() == 2 ? TrustCertificate(o.words[1]) : 2;
}
