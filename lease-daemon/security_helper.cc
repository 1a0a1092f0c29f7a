// The lease controller. Everything below that reads or changes lease state
// runs on queue_; the public entry points only hand work to it.

#include "security_helper.h"

#include <utility>

#include "client_requirement.h"

namespace vesk {

namespace {

constexpr char kQueueLabel[] = "Vesk.break-security.lease";
constexpr double kLeaseDuration = 10.0;
constexpr int64_t kSleepDisabled = 1;

}  // namespace

SecurityHelper::SecurityHelper(std::string statePath, ReadPower readPower,
                               WritePower writePower, Uptime uptime,
                               StateFileFault fault)
    : queue_(kQueueLabel),
      statePath_(std::move(statePath)),
      readPower_(std::move(readPower)),
      writePower_(std::move(writePower)),
      uptime_(std::move(uptime)),
      requirement_(buildClientRequirement()),
      stateFault_(std::move(fault)) {}

std::shared_ptr<SecurityHelper> SecurityHelper::create(std::string statePath,
                                                       ReadPower readPower,
                                                       WritePower writePower,
                                                       Uptime uptime) {
  return createWithOptions(std::move(statePath), std::move(readPower),
                           std::move(writePower), std::move(uptime), Options());
}

std::shared_ptr<SecurityHelper> SecurityHelper::createWithOptions(
    std::string statePath, ReadPower readPower, WritePower writePower,
    Uptime uptime, Options options) {
  std::shared_ptr<SecurityHelper> helper(new SecurityHelper(
      std::move(statePath), std::move(readPower), std::move(writePower),
      std::move(uptime), std::move(options.stateFault)));
  helper->self_ = helper;
  // Recovery is finished before any client can reach the controller. No
  // tick exists yet, so nothing else can be on the queue.
  helper->queue_.sync([&] { helper->recoverState(); });
  std::weak_ptr<SecurityHelper> weak = helper;
  helper->timer_ =
      helper->queue_.schedule(options.tickStart, options.tickPeriod, [weak] {
        if (std::shared_ptr<SecurityHelper> self = weak.lock()) {
          self->checkLease();
        }
      });
  return helper;
}

void SecurityHelper::renew(std::shared_ptr<Connection> connection,
                           Reply reply) {
  queue_.async(
      [self = self_.lock(), connection = std::move(connection),
       reply = std::move(reply)] { self->renewOnQueue(connection, reply); });
}

void SecurityHelper::release(std::shared_ptr<Connection> connection,
                             Reply reply) {
  queue_.async(
      [self = self_.lock(), connection = std::move(connection),
       reply = std::move(reply)] { self->releaseOnQueue(connection, reply); });
}

bool SecurityHelper::relinquish() {
  bool restored = false;
  queue_.sync([&] {
    relinquished_ = true;
    owner_ = nullptr;
    restored = restore();
  });
  return restored;
}

SerialQueue& SecurityHelper::queue() { return queue_; }

const std::optional<CodeRequirement>& SecurityHelper::requirement() const {
  return requirement_;
}

void SecurityHelper::renewOnQueue(const std::shared_ptr<Connection>& connection,
                                  const Reply& reply) {
  // A lease needs a holder; a missing connection is never granted one, and
  // a controller that is shutting down grants none at all.
  if (!connection || relinquished_) {
    reply(false);
    return;
  }
  if (owner_ && owner_ != connection) {
    reply(false);
    return;
  }
  if (!original_) {
    // First lease since the setting was last put back: capture it, and keep
    // it on disk before anything is changed.
    std::optional<int64_t> value = readPower_();
    if (!value) {
      reply(false);
      return;
    }
    if (!saveState(*value)) {
      reply(false);
      return;
    }
    original_ = value;
    if (*value != kSleepDisabled && !writePower_(kSleepDisabled)) {
      restore();
      reply(false);
      return;
    }
  }
  std::optional<int64_t> current = readPower_();
  if (current != kSleepDisabled && !writePower_(kSleepDisabled)) {
    reply(false);
    return;
  }
  owner_ = connection;
  deadline_ = uptime_() + kLeaseDuration;
  reply(true);
}

void SecurityHelper::releaseOnQueue(
    const std::shared_ptr<Connection>& connection, const Reply& reply) {
  if (owner_ && owner_ == connection) {
    owner_ = nullptr;
    reply(restore());
    return;
  }
  // With no holder a release has nothing to give up; an owed restore is the
  // tick's business.
  reply(!owner_);
}

void SecurityHelper::connectionInvalidated(
    const std::shared_ptr<Connection>& connection) {
  // A connection that no longer exists matches an absent owner.
  if (owner_ != connection) return;
  owner_ = nullptr;
  restore();
}

bool SecurityHelper::restore() {
  if (!original_) return true;
  if (!writePower_(*original_)) return false;
  if (!removeState()) return false;
  original_.reset();
  owner_ = nullptr;
  return true;
}

void SecurityHelper::checkLease() {
  if (!original_) return;
  if (owner_) {
    double now = uptime_();
    // False also when either side is not a number: then the lease ends.
    if (deadline_ > now) return;
  }
  restore();
}

bool SecurityHelper::saveState(int64_t value) {
  return saveLeaseState(statePath_, value, stateFault_);
}

bool SecurityHelper::removeState() {
  return removeLeaseState(statePath_, stateFault_);
}

void SecurityHelper::recoverState() {
  std::optional<int64_t> value = loadLeaseState(statePath_);
  if (!value) return;
  // Only 0 and 1 are values the setting can have had; anything else is not
  // a file this daemon wrote.
  if (static_cast<uint64_t>(*value) >= 2) return;
  original_ = value;
  restore();
}

}  // namespace vesk
