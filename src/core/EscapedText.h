#pragma once

#include <string>
#include <string_view>

// Text from outside the program (a peer's bytes, stored values, names read from a file) as it may
// be echoed on a terminal: control characters (C0, DEL and the C1 range) and bytes that are no
// UTF-8 become \xNN, so that nothing echoed can move the cursor, clear the screen or end a line
// and pass for one of the program's own. Printable ASCII and UTF-8 text come out unchanged.
std::string escapedText(std::string_view text);
