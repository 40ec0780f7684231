#include "Zido/SwTableStats.h"

#include "Vesk/TypeBuilder.h"

namespace Zido {

void SwTableStats::lastCommitTimeIs(double seconds) {
  if (seconds != lastCommitTime_) {
    lastCommitTime_ = seconds;
    publisher().publish(*this, "lastCommitTime");
  }
}

Vesk::TypeData const& SwTableStats::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<SwTableStats>("Zido::SwTableStats", &Quor::Entity::staticTypeData())
          .attribute("entryWriteCnt", &SwTableStats::entryWriteCnt)
          .attribute("entryRemoveCnt", &SwTableStats::entryRemoveCnt)
          .attribute("commitCnt", &SwTableStats::commitCnt)
          .attribute("tableClearCnt", &SwTableStats::tableClearCnt)
          .attribute("updateCnt", &SwTableStats::updateCnt)
          .attribute("suppressedWriteCnt", &SwTableStats::suppressedWriteCnt)
          .attribute("suppressCheckDiffCnt", &SwTableStats::suppressCheckDiffCnt)
          .attribute("lastCommitTime", &SwTableStats::lastCommitTime,
                     &SwTableStats::lastCommitTimeIs)
          .creator("SwTableStatsIs", [] { return Vesk::Ptr<SwTableStats>(new SwTableStats()); })
          .done();
  return type;
}

namespace {
[[maybe_unused]] Vesk::TypeData const& registered = SwTableStats::staticTypeData();
}  // namespace

}  // namespace Zido
