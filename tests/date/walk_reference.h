// A plain transcription of the year and month walks that define the date
// conversions: year by year from 1970, month by month through the month
// table, and the daylight rule with its positive-dividend remainder.  The
// library computes the same results in closed form; the differential test
// holds it to these, over the range where the walks are exact (years whose
// seconds fit a double exactly, months 0 to 13, days of the year up to a
// few hundred).
#pragma once

#include "date.h"

namespace walk {

int ysize(int yr);
int daylit(const datevec *v);
double vtod(datevec *v);
datevec *dtov(double t, datevec *v);

}  // namespace walk
