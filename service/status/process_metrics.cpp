#include "service/status/process_metrics.h"

#include <dirent.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <prometheus/text_serializer.h>
#include <sstream>

namespace kavelo::service {

namespace {

prometheus::MetricFamily OneValue(const std::string& name, const std::string& help,
                                  prometheus::MetricType type, double value) {
  prometheus::MetricFamily family;
  family.name = name;
  family.help = help;
  family.type = type;
  prometheus::ClientMetric metric;
  if (type == prometheus::MetricType::Counter) {
    metric.counter.value = value;
  } else {
    metric.gauge.value = value;
  }
  family.metric.push_back(std::move(metric));
  return family;
}

// The fields of /proc/self/stat after the command name (field 3 on).
std::vector<std::string> StatFields() {
  std::ifstream in("/proc/self/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> fields;
  size_t close = text.rfind(')');
  if (close == std::string::npos) return fields;
  std::istringstream rest(text.substr(close + 1));
  for (std::string field; rest >> field;) fields.push_back(field);
  return fields;
}

double BootTimeSeconds() {
  std::ifstream in("/proc/stat");
  for (std::string key; in >> key;) {
    if (key == "btime") {
      double value = 0;
      in >> value;
      return value;
    }
    in.ignore(1 << 20, '\n');
  }
  return 0;
}

}  // namespace

void MetricFamilies::Add(std::vector<prometheus::MetricFamily> families) {
  for (auto& family : families) families_.push_back(std::move(family));
}

void MetricFamilies::Gauge(const std::string& name, const std::string& help, double value) {
  families_.push_back(OneValue(name, help, prometheus::MetricType::Gauge, value));
}

void MetricFamilies::Counter(const std::string& name, const std::string& help, double value) {
  families_.push_back(OneValue(name, help, prometheus::MetricType::Counter, value));
}

void MetricFamilies::LabelledGauge(const std::string& name, const std::string& help,
                                   const std::string& label,
                                   const std::map<std::string, double>& values) {
  prometheus::MetricFamily family;
  family.name = name;
  family.help = help;
  family.type = prometheus::MetricType::Gauge;
  for (const auto& [labelValue, value] : values) {
    prometheus::ClientMetric metric;
    metric.label.push_back({label, labelValue});
    metric.gauge.value = value;
    family.metric.push_back(std::move(metric));
  }
  families_.push_back(std::move(family));
}

std::string MetricFamilies::Text() const {
  return prometheus::TextSerializer().Serialize(families_);
}

void AddProcessMetrics(MetricFamilies* families) {
  const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
  const double pageBytes = static_cast<double>(sysconf(_SC_PAGESIZE));
  std::vector<std::string> stat = StatFields();
  // Fields 14 and 15 (utime, stime), 22 (starttime), 23 (vsize), 24 (rss),
  // counted from 1 with the pid and the command name as fields 1 and 2.
  if (stat.size() >= 22) {
    double cpu = (std::stod(stat[11]) + std::stod(stat[12])) / ticks;
    families->Counter("process_cpu_seconds_total", "User and system CPU time the process used",
                      cpu);
    families->Gauge("process_start_time_seconds", "When the process started, since 1970",
                    BootTimeSeconds() + std::stod(stat[19]) / ticks);
    families->Gauge("process_virtual_memory_bytes", "Virtual memory size", std::stod(stat[20]));
    families->Gauge("process_resident_memory_bytes", "Resident memory size",
                    std::stod(stat[21]) * pageBytes);
  }
  int open = 0;
  if (DIR* fds = opendir("/proc/self/fd")) {
    while (dirent* entry = readdir(fds)) {
      if (entry->d_name[0] != '.') ++open;
    }
    closedir(fds);
    --open;  // the listing's own descriptor
  }
  families->Gauge("process_open_fds", "Open file descriptors", open);
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
    families->Gauge("process_max_fds", "Most file descriptors the process may open",
                    static_cast<double>(limit.rlim_cur));
  }
}

int CountListeningSockets(const std::string& path) {
  if (path.empty()) return 0;
  // Num RefCount Protocol Flags Type St Inode Path; listening sockets carry
  // the accept flag 00010000.
  std::ifstream in("/proc/net/unix");
  std::string line;
  std::getline(in, line);
  int count = 0;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string num, refs, protocol, flags, type, state, inode, name;
    if (!(fields >> num >> refs >> protocol >> flags >> type >> state >> inode >> name)) continue;
    if (name == path && (std::stoul(flags, nullptr, 16) & 0x10000) != 0) ++count;
  }
  return count;
}

}  // namespace kavelo::service
