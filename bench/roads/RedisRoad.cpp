// The road a user would build on Redis: see Road.h.
#include <hiredis/hiredis.h>

#include <absl/container/flat_hash_map.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "bench/roads/BatchedRoad.h"
#include "bench/roads/StoreRecords.h"

namespace ZaduBench {

namespace {

struct ReplyFree {
  void operator()(redisReply* reply) const { freeReplyObject(reply); }
};
using Reply = std::unique_ptr<redisReply, ReplyFree>;

class Connection {
 public:
  // Connects to the server's socket, retrying while the server starts.
  explicit Connection(std::string const& socket) {
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (true) {
      context_ = redisConnectUnix(socket.c_str());
      if (context_ != nullptr && context_->err == 0) {
        return;
      }
      redisFree(context_);
      context_ = nullptr;
      if (std::chrono::steady_clock::now() > deadline) {
        throw std::runtime_error("redis: cannot connect to " + socket);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~Connection() { redisFree(context_); }
  Connection(Connection const&) = delete;
  Connection& operator=(Connection const&) = delete;

  template <class... Arguments>
  void append(char const* format, Arguments... arguments) {
    if (redisAppendCommand(context_, format, arguments...) != REDIS_OK) {
      throw std::runtime_error("redis: cannot append a command");
    }
    ++appended_;
  }
  // The replies of every appended command; raises on an error reply.
  void drain() {
    for (; appended_ != 0; --appended_) {
      next();
    }
  }
  Reply next() {
    void* raw = nullptr;
    if (redisGetReply(context_, &raw) != REDIS_OK) {
      throw std::runtime_error(std::string("redis: ") + context_->errstr);
    }
    Reply reply(static_cast<redisReply*>(raw));
    if (reply->type == REDIS_REPLY_ERROR) {
      throw std::runtime_error(std::string("redis: ") + reply->str);
    }
    return reply;
  }
  template <class... Arguments>
  Reply command(char const* format, Arguments... arguments) {
    append(format, arguments...);
    --appended_;
    return next();
  }
  std::uint64_t number(char const* key) {
    Reply const reply = command("GET %s", key);
    return reply->type == REDIS_REPLY_STRING ? std::stoull(reply->str) : 0;
  }

 private:
  redisContext* context_ = nullptr;
  std::size_t appended_ = 0;
};

// The hardware side: reads the stream a batch at a time over its own
// connection and sets its version after each batch.
int followChanges(std::string const& socket, bool acknowledgeOnly) {
  Connection connection(socket);
  SimulatedChip chip(acknowledgeOnly);
  std::uint64_t taken = 0;
  while (!stopRequested()) {
    Reply const reply = connection.command("XREAD COUNT %u STREAMS changes 0-%llu", batch,
                                           static_cast<unsigned long long>(taken));
    if (reply->type != REDIS_REPLY_ARRAY || reply->elements == 0) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      continue;
    }
    redisReply const* entries = reply->element[0]->element[1];
    for (std::size_t index = 0; index < entries->elements; ++index) {
      redisReply const* entry = entries->element[index];
      redisReply const* fields = entry->element[1];
      ChangeRecord change;
      std::memcpy(&change, fields->element[1]->str, sizeof change);
      chip.apply(change);
      taken = std::stoull(std::strchr(entry->element[0]->str, '-') + 1);
    }
    connection.command("SET hw %llu", static_cast<unsigned long long>(taken));
  }
  return 0;
}

double restoreMilliseconds(std::string const& socket) {
  auto const began = std::chrono::steady_clock::now();
  Connection connection(socket);
  Reply const reply = connection.command("HGETALL config:0");
  absl::flat_hash_map<std::uint64_t, ConfigRecord> restored;
  for (std::size_t index = 0; index + 1 < reply->elements; index += 2) {
    std::uint64_t keyNumber = 0;
    ConfigRecord record;
    std::memcpy(&keyNumber, reply->element[index]->str, sizeof keyNumber);
    std::memcpy(&record, reply->element[index + 1]->str, sizeof record);
    restored.emplace(keyNumber, record);
  }
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began)
      .count();
}

double usedMebibytes(Connection& connection) {
  Reply const reply = connection.command("INFO memory");
  char const* found = std::strstr(reply->str, "used_memory:");
  return found == nullptr ? 0 : std::stod(found + std::strlen("used_memory:")) / (1024.0 * 1024.0);
}

}  // namespace

RoadResult runRedisRoad(Workload const& workload, RoadOptions const& options) {
  RoadResult result("redis", workload.operations.size());
  std::string const socket = options.scratch + "/redis.sock";
  ChildProcess server("/usr/bin/redis-server",
                      {"--port", "0", "--unixsocket", socket, "--unixsocketperm", "700", "--save",
                       "", "--appendonly", "no", "--dir", options.scratch});
  {
    Connection connection(socket);
    ChildProcess hardware([&] { return followChanges(socket, options.acknowledgeOnly); });
    std::uint64_t cleaned = 0;
    // Pipelines operations [from, to) with the version and the trimming of
    // what the hardware has taken.
    auto const commit = [&](std::size_t from, std::size_t to, std::uint64_t hardwareVersion) {
      for (std::size_t index = from; index < to; ++index) {
        Operation const& operation = workload.operations[index];
        std::uint64_t const keyNumber = operation.keyNumber();
        if (operation.remove) {
          connection.append("HDEL config:%u %b", unsigned{operation.unit}, &keyNumber,
                            sizeof keyNumber);
        } else {
          ConfigRecord const record{index + 1, operation.adjacency};
          connection.append("HSET config:%u %b %b", unsigned{operation.unit}, &keyNumber,
                            sizeof keyNumber, &record, sizeof record);
        }
        ChangeRecord const change = changeOf(operation);
        connection.append("XADD changes 0-%llu c %b", static_cast<unsigned long long>(index + 1),
                          &change, sizeof change);
      }
      connection.append("SET agent %llu", static_cast<unsigned long long>(to));
      if (hardwareVersion > cleaned) {
        connection.append("XTRIM changes MINID 0-%llu",
                          static_cast<unsigned long long>(hardwareVersion + 1));
        cleaned = hardwareVersion;
      }
      connection.drain();
    };
    runBatchedRoad(workload, options, hardware, result, commit,
                   [&] { return connection.number("hw"); });
    result.storeMebibytes = usedMebibytes(connection);
  }
  result.restoreMilliseconds = restoreMilliseconds(socket);
  return result;
}

}  // namespace ZaduBench
