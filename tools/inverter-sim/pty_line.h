#pragma once

#include <filesystem>
#include <string>

namespace pyranex::sim {

// One pseudo-terminal standing in for the inverter's end of the cable. The master end is ours;
// the slave end is what the program opens as its serial port. We keep a descriptor of the slave
// open ourselves so the master never sees a hang-up just because the program closed its port to
// reopen it. Closing this object is what an unplugged USB adapter looks like to the program.
class PtyLine {
 public:
  PtyLine() = default;
  ~PtyLine();
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;
  PtyLine(PtyLine&& other) noexcept;
  PtyLine& operator=(PtyLine&& other) noexcept;

  // Opens a new pair with the slave in raw 9600 8N1. On failure returns false and says why.
  bool Open(std::string* error);
  void Close();
  bool IsOpen() const { return master_ >= 0; }
  int MasterFd() const { return master_; }
  const std::filesystem::path& SlavePath() const { return slavePath_; }

 private:
  int master_ = -1;
  int slaveKeeper_ = -1;
  std::filesystem::path slavePath_;
};

// Points `<portsDir>/COM<n>` at `target`, replacing any link already there in one step.
bool PointComLink(const std::filesystem::path& portsDir, unsigned comNumber,
                  const std::filesystem::path& target, std::string* error);
std::filesystem::path ComLinkPath(const std::filesystem::path& portsDir, unsigned comNumber);

}  // namespace pyranex::sim
