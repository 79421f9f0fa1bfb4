#pragma once

#include "common/Framing.h"

#include <cstddef>
#include <string>
#include <string_view>

// Appends one framed packet to a batch; out keeps its capacity.
void AppendFramed(std::string &out, Framing framing, std::string_view packet);

// Frames the packet built in place at out[start..]: octet counting moves it
// along by the length of its count, without a copy elsewhere.
void FrameInPlace(std::string &out, std::size_t start, Framing framing);
