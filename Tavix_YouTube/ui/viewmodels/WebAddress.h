// openWebAddress: hands an address to the workspace (default browser) only
// when it parses as an http or https address with a host. Anything else
// (file:, javascript:, custom schemes, text that is no address) opens
// nothing and is reported on the console. Answers whether it was handed over.
//
// Thread safety: main thread (the Qt workspace is main-thread only).
#pragma once

#include <string>

namespace tavix {

bool isWebAddress(const std::string& text);
bool openWebAddress(const std::string& text);

}  // namespace tavix
