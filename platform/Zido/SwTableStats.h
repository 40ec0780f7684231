// Zido::SwTableStats: the statistics record of one software table. Each
// counter is raised by its own increment operation; lastCommitTime holds the
// UTC time (seconds) of the last commit.
#pragma once

#include <cstdint>
#include <string_view>

#include "Hunkpool/Pool.h"
#include "Quor/Entity.h"

namespace Zido {

class SwTableStats : public Quor::Entity {
  HUNKPOOL_CLASS_ALLOCATION(SwTableStats)

 public:
  std::uint64_t entryWriteCnt() const noexcept { return entryWriteCnt_; }
  std::uint64_t entryRemoveCnt() const noexcept { return entryRemoveCnt_; }
  std::uint64_t commitCnt() const noexcept { return commitCnt_; }
  std::uint64_t tableClearCnt() const noexcept { return tableClearCnt_; }
  std::uint64_t updateCnt() const noexcept { return updateCnt_; }
  std::uint64_t suppressedWriteCnt() const noexcept { return suppressedWriteCnt_; }
  std::uint64_t suppressCheckDiffCnt() const noexcept { return suppressCheckDiffCnt_; }
  double lastCommitTime() const noexcept { return lastCommitTime_; }

  void entryWriteCntInc(std::uint64_t by) { raise(entryWriteCnt_, by, "entryWriteCnt"); }
  void entryRemoveCntInc(std::uint64_t by) { raise(entryRemoveCnt_, by, "entryRemoveCnt"); }
  void commitCntInc(std::uint64_t by) { raise(commitCnt_, by, "commitCnt"); }
  void tableClearCntInc(std::uint64_t by) { raise(tableClearCnt_, by, "tableClearCnt"); }
  void updateCntInc(std::uint64_t by) { raise(updateCnt_, by, "updateCnt"); }
  void suppressedWriteCntInc(std::uint64_t by) {
    raise(suppressedWriteCnt_, by, "suppressedWriteCnt");
  }
  void suppressCheckDiffCntInc(std::uint64_t by) {
    raise(suppressCheckDiffCnt_, by, "suppressCheckDiffCnt");
  }
  void lastCommitTimeIs(double seconds);

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  void raise(std::uint64_t& counter, std::uint64_t by, std::string_view attribute) {
    if (by != 0) {
      counter += by;
      publisher().publish(*this, attribute);
    }
  }

  std::uint64_t entryWriteCnt_ = 0;
  std::uint64_t entryRemoveCnt_ = 0;
  std::uint64_t commitCnt_ = 0;
  std::uint64_t tableClearCnt_ = 0;
  std::uint64_t updateCnt_ = 0;
  std::uint64_t suppressedWriteCnt_ = 0;
  std::uint64_t suppressCheckDiffCnt_ = 0;
  double lastCommitTime_ = 0;
};

}  // namespace Zido
