// The sentences the demos show for the server's prompt and status codes. The transaction and
// extended demos write them in title case, the image capture tool as sentences with a final
// period; the extended demo knows no "Finger removed".
#pragma once

#include <cstdint>

namespace demo {

enum class TextStyle { kTransactionDemo, kExtendedDemo, kCaptureTool };

const char* PromptText(TextStyle style, uint16_t code);
const char* StatusText(TextStyle style, uint16_t code);

}  // namespace demo
