#include "lossy_link.h"

LossyLink::LossyLink(const LossyLinkOptions& options) : options_(options), random_(options.seed) {}

// A two-state (Gilbert) channel: in the lossy state every datagram is lost and the state is left
// with probability 1 / burst, so runs of losses average `burst` long; the state is entered at the
// rate that makes the long-run share of losses `drop`. With burst 1 each loss is independent.
bool LossyLink::Lose() {
  const double p = options_.drop;
  if (p <= 0.0) return false;
  if (options_.burst <= 1.0) return unit_(random_) < p;
  if (in_burst_) {
    in_burst_ = unit_(random_) >= 1.0 / options_.burst;
  } else {
    in_burst_ = unit_(random_) < p / (options_.burst * (1.0 - p));
  }
  return in_burst_;
}

void LossyLink::Emit(const Datagram& datagram, std::vector<Datagram>* out) {
  // Each datagram sent lets the held ones move one place closer to their turn.
  out->push_back(datagram);
  ++counts_.forwarded;
  for (size_t i = 0; i < held_.size();) {
    if (--held_[i].after <= 0) {
      out->push_back(std::move(held_[i].datagram));
      ++counts_.forwarded;
      held_.erase(held_.begin() + long(i));
    } else {
      ++i;
    }
  }
}

void LossyLink::Push(const Datagram& datagram, std::vector<Datagram>* out) {
  ++counts_.received;
  if (Lose()) {
    ++counts_.dropped;
    return;
  }
  const int copies = unit_(random_) < options_.duplicate ? 2 : 1;
  if (copies == 2) ++counts_.duplicated;
  for (int c = 0; c < copies; ++c) {
    if (unit_(random_) < options_.reorder) {
      ++counts_.reordered;
      const int after = 1 + int(random_() % uint64_t(options_.reorder_depth > 0 ? options_.reorder_depth : 1));
      held_.push_back(Held{datagram, after});
    } else {
      Emit(datagram, out);
    }
  }
}

void LossyLink::Drain(std::vector<Datagram>* out) {
  for (Held& held : held_) {
    out->push_back(std::move(held.datagram));
    ++counts_.forwarded;
  }
  held_.clear();
}
