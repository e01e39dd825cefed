// Number helpers of the page-fit computation, on double-precision values.
#ifndef KAVELO_PRINTCONTROL_NUMBER_HELPERS_H_
#define KAVELO_PRINTCONTROL_NUMBER_HELPERS_H_

namespace kavelo::printcontrol {

// x millimetres in inches (x * 0.03937).
double MillimetresToInches(double x);

// Rounds x to places decimals, deciding by the last digit of the integer part
// of x * 10^places: 5 or more rounds up, else down (to three places 1.2351
// gives 1.236 and 1.2349 gives 1.234).  x is returned unchanged when places
// <= 0 or x <= 0.
double RoundToPlaces(double x, int places);

// floor(x * 10^places) / 10^places; x unchanged when places <= 0 or x <= 0.
double FloorToPlaces(double x, int places);

// In a text holding a decimal point, removes zeros from its end, keeping the
// digit directly after the point: "1.500000" -> "1.5", "2.000000" -> "2.0";
// "10" stays.  Null is allowed.
void TrimTrailingZeros(char* text);

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_NUMBER_HELPERS_H_
