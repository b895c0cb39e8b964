// What the timing programs share: their "--name value" options, the median of their figures and the
// machine's load printed beside them.
#pragma once
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace bench {

// "--name value" pairs of whole numbers into the numbers named; an unknown name is reported and skipped.
inline void ParseNumbers(int argc, char** argv, const std::map<std::string, int*>& numbers) {
  for (int i = 1; i + 1 < argc; i += 2) {
    auto known = numbers.find(argv[i]);
    if (known == numbers.end()) fprintf(stderr, "unknown option %s\n", argv[i]);
    else *known->second = atoi(argv[i + 1]);
  }
}

// The middle value (of an even count, the mean of the two middle ones); 0 without values.
inline double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t half = values.size() / 2;
  return values.size() % 2 ? values[half] : (values[half - 1] + values[half]) / 2;
}

// The one-minute load average; -1 where it cannot be read.
inline double LoadAverage() {
  double load[1] = {0};
  return getloadavg(load, 1) == 1 ? load[0] : -1;
}

}  // namespace bench
