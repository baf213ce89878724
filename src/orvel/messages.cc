#include "orvel/messages.h"

namespace vexil {

void IdTriple::ClearFields() { ResetFields(*this); }
void StatInfo::ClearFields() { ResetFields(*this); }
void RegionInfo::ClearFields() { ResetFields(*this); }

}  // namespace vexil
