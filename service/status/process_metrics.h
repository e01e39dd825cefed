// Metric families built at scrape time, serialized in the Prometheus text
// format by prometheus-cpp, and the process's own metrics read from /proc.
#ifndef KAVELO_SERVICE_PROCESS_METRICS_H_
#define KAVELO_SERVICE_PROCESS_METRICS_H_

#include <prometheus/metric_family.h>

#include <map>
#include <string>
#include <vector>

namespace kavelo::service {

class MetricFamilies {
 public:
  void Add(std::vector<prometheus::MetricFamily> families);
  // One family of one value without labels.
  void Gauge(const std::string& name, const std::string& help, double value);
  void Counter(const std::string& name, const std::string& help, double value);
  // One family with one value per value of a label.
  void LabelledGauge(const std::string& name, const std::string& help, const std::string& label,
                     const std::map<std::string, double>& values);

  std::string Text() const;

 private:
  std::vector<prometheus::MetricFamily> families_;
};

// process_cpu_seconds_total, process_resident_memory_bytes,
// process_virtual_memory_bytes, process_open_fds, process_max_fds,
// process_start_time_seconds, as the usual exporters name them.
void AddProcessMetrics(MetricFamilies* families);

// Listening Unix sockets bound to the path (0 for an empty path).
int CountListeningSockets(const std::string& path);

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_PROCESS_METRICS_H_
