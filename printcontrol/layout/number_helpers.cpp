#include "printcontrol/layout/number_helpers.h"

#include <cmath>
#include <cstring>

namespace kavelo::printcontrol {

double MillimetresToInches(double x) { return x * 0.03937; }

double RoundToPlaces(double x, int places) {
  if (places <= 0 || x <= 0) return x;
  double m = std::pow(10.0, places);
  double y = x * m;
  double lastDigit = std::fmod(std::floor(y), 10.0);
  return (lastDigit >= 5 ? std::ceil(y) : std::floor(y)) / m;
}

double FloorToPlaces(double x, int places) {
  if (places <= 0 || x <= 0) return x;
  double m = std::pow(10.0, places);
  return std::floor(x * m) / m;
}

void TrimTrailingZeros(char* text) {
  if (text == nullptr) return;
  char* point = std::strchr(text, '.');
  if (point == nullptr) return;
  // The digit right after the point stays, whatever it is.
  char* keep = point[1] == '\0' ? point + 1 : point + 2;
  char* end = point + std::strlen(point);
  while (end > keep && end[-1] == '0') --end;
  *end = '\0';
}

}  // namespace kavelo::printcontrol
