// Reads a local date text in EST, prints its time, its text form and its
// day of the year.
#include <iostream>

#include <zulukit/date.h>

int main() {
    zone = -5;
    const double t = atod("850704123456");
    datevec v;
    dtov(t, &v);
    char text[40];
    std::cout << static_cast<long long>(t) << ' ' << dtoa(t, text) << ' ' << v.jl << '\n';
    return 0;
}
