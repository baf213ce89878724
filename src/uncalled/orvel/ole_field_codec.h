// Not called by the connector, whose messages hold no OLE field: kept because the system's design
// defines these optional field types, and kept working by tests/uncalled.
// The two OLE field types, Windows build only: a byte array held in a VARIANT and a BSTR. Both
// travel as a uint32 byte count followed by the bytes. This header names the OLE types without
// pulling in the Windows headers.
#ifndef VEXIL_UNCALLED_ORVEL_OLE_FIELD_CODEC_H_
#define VEXIL_UNCALLED_ORVEL_OLE_FIELD_CODEC_H_

#ifndef _WIN32
#error "the OLE field codecs exist in the Windows build only"
#endif

#include "orvel/field_codec.h"

struct tagVARIANT;  // VARIANT

namespace vexil {

// A VARIANT of type VT_ARRAY | VT_UI1 (0x2011) holding a SAFEARRAY of bytes; every element of
// the array is written. Any other type, a missing array or an element size other than 1 is
// refused with last error 13 (ERROR_INVALID_DATA), writing nothing.
bool EncodeField(FieldWriter& out, const tagVARIANT& value);
// Clears value and makes it a VT_ARRAY | VT_UI1 VARIANT owning a new one-dimensional array of the
// bytes. A count larger than what is left fails with the count consumed and value untouched.
bool DecodeField(FieldReader& in, tagVARIANT& value);

// A BSTR (null reads as empty): its byte length, then its bytes.
bool EncodeBstr(FieldWriter& out, const wchar_t* bstr);
// Frees the BSTR in bstr and stores a new one holding the bytes; the caller owns it and frees it
// with SysFreeString. A count larger than what is left fails with the count consumed and bstr
// untouched.
bool DecodeBstr(FieldReader& in, wchar_t*& bstr);

bool PutBstr(BufferPtr& buffer, const wchar_t* bstr);
bool GetBstr(wchar_t*& bstr, BufferPtr& buffer);

}  // namespace vexil

#endif  // VEXIL_UNCALLED_ORVEL_OLE_FIELD_CODEC_H_
