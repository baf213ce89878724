#include "net/peer_identity.h"

namespace vexil {

void LookUpPeer(SOCKET, const PeerQuery&, PeerIdentity* identity) {
  identity->unknown_why = L"the owner lookup is not built yet";
}

bool CanonicalUser(const std::wstring& name, std::wstring* canonical, std::wstring*) {
  *canonical = name;
  return true;
}

std::wstring CanonicalExecutable(const std::wstring& path) { return path; }

bool SameExecutable(const std::wstring& found, const std::wstring& expected) {
  return found == expected;
}

const bool kPeerServiceCheckable = false;

}  // namespace vexil
