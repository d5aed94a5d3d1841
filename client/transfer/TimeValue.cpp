#include "client/transfer/TimeValue.h"

int TimeOfDayFromFileTimes(uint64_t now, uint64_t base, TimeValue* tv) {
    if (!tv || now < base) return -1;
    uint64_t diff = now - base;
    tv->tv_usec = static_cast<int32_t>((diff / 10) % 1000000);
    tv->tv_sec = static_cast<int32_t>(static_cast<uint32_t>(diff / 10000000));
    return 0;
}
