// The board's own packets as the host switches them: busy, complete,
// interrupt and event state packets, the periodic state timer with its
// contents, and the packet counters.
#pragma once

#include <cstdint>

#include "families/shapes.h"

namespace voxa::family {

enum class Packet { Busy, Complete, Interrupt, Event };

int EnablePacket(Board& c, Packet p, int flag);
int IsPacket(Board& c, Packet p);
void SetPacketCount(Board& c, Packet p, uint32_t count);
uint32_t GetPacketCount(Board& c, Packet p);

int SetStateTimer(Board& c, uint32_t flags);
int GetStateTimer(Board& c, uint32_t selector);  // throws ArgumentError for a bad selector
int ClrStateTimer(Board& c, uint32_t flags);
int IsStateTimer(Board& c, uint32_t flags);

}  // namespace voxa::family
