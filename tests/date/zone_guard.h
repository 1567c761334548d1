#pragma once

#include "date.h"

// Sets the process-wide zone and layout for one test and restores them after.
class ZoneGuard {
public:
    explicit ZoneGuard(int z, int fmt = 0) : zone_(zone), fmt_(dtoa_fmt) {
        zone = z;
        dtoa_fmt = fmt;
    }
    ~ZoneGuard() {
        zone = zone_;
        dtoa_fmt = fmt_;
    }
    ZoneGuard(const ZoneGuard &) = delete;
    ZoneGuard &operator=(const ZoneGuard &) = delete;

private:
    int zone_, fmt_;
};
