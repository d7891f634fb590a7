#pragma once

#include <xercesc/util/XercesDefs.hpp>

#include <functional>
#include <string>

#include "core/IntTypes.h"

XERCES_CPP_NAMESPACE_BEGIN
class DOMElement;
XERCES_CPP_NAMESPACE_END

// The token elements of "marking.xml" in the working directory, shared by every token type that
// takes initial tokens from that file. The file is parsed anew on every call. Its DOCTYPE may
// neither read another file nor expand entities without bound: the file comes from whoever
// prepared the run, not from us.
class MarkingFile {
 public:
  using Element = XERCES_CPP_NAMESPACE::DOMElement;

  // Calls `visit` for every element named "token", at any depth and in document order, whose
  // "place" attribute equals `placeName`. A file that cannot be read or parsed prints its message
  // and ends the process with status 1.
  static void forEachToken(const std::string& placeName,
                           const std::function<void(const Element&)>& visit);
  // The same for every element named "token", whatever place it names.
  static void forEachToken(const std::function<void(const Element&)>& visit);

  // The attribute as `atol` reads it (leading blanks, an optional sign, then digits up to the
  // first other character; 0 when there are none), saturated to the 32-bit range.
  static Long32 readLong(const Element& element, const char16_t* attribute);
  // The attribute in the local 8-bit character set; empty when it is absent. A character that set
  // cannot show reads as '?'.
  static std::string readText(const Element& element, const char16_t* attribute);
};
