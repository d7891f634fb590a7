#pragma once

#include <xercesc/util/XercesDefs.hpp>

#include <functional>
#include <string>

#include "core/IntTypes.h"

XERCES_CPP_NAMESPACE_BEGIN
class DOMElement;
XERCES_CPP_NAMESPACE_END

// The token elements of "marking.xml" in the working directory, shared by every token type that
// takes initial tokens from that file. The file is parsed anew on every call, in time linear in its
// size. Its DOCTYPE may neither read another file nor expand entities without bound: the file comes
// from whoever prepared the run, not from us.
class MarkingFile {
 public:
  using Element = XERCES_CPP_NAMESPACE::DOMElement;
  using Visit = std::function<void(const std::string& place, bool exact, const Element&)>;

  // Calls `visit` for every element named "token", at any depth and in document order, with its
  // "place" attribute in the local 8-bit character set and whether that set shows it exactly (one
  // it does not names no place of a net). A file that cannot be read or parsed prints its message,
  // with the file's name and the line and column where the parse stopped, on standard error and
  // ends the process with status 1.
  static void forEachToken(const Visit& visit);
  // The same for the elements whose "place" attribute equals `placeName`.
  static void forEachToken(const std::string& placeName,
                           const std::function<void(const Element&)>& visit);

  // The attribute as `atol` reads it (leading blanks, an optional sign, then digits up to the
  // first other character; 0 when there are none), saturated to the 32-bit range.
  static Long32 readLong(const Element& element, const char16_t* attribute);
  // The attribute in the local 8-bit character set; empty when it is absent. A character that set
  // cannot show reads as '?'.
  static std::string readText(const Element& element, const char16_t* attribute);
};
