// What the lossy relay does to each datagram, apart from the sockets: drops it (at random, or in
// bursts), repeats it, or holds it back behind later ones, all from one seed so a run repeats.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

struct LossyLinkOptions {
  double drop = 0.0;       // the long-run share of datagrams lost
  double burst = 1.0;      // mean length of a run of losses; 1 loses each datagram independently
  double duplicate = 0.0;  // share of datagrams sent twice
  double reorder = 0.0;    // share of datagrams held back
  int reorder_depth = 64;  // a held datagram goes out after 1 to this many later ones
  uint64_t seed = 1;
};

struct LossyLinkCounts {
  uint64_t received = 0;
  uint64_t forwarded = 0;
  uint64_t dropped = 0;
  uint64_t duplicated = 0;
  uint64_t reordered = 0;
};

class LossyLink {
 public:
  using Datagram = std::vector<uint8_t>;

  explicit LossyLink(const LossyLinkOptions& options);

  // One datagram in; what is to go out now, in order, is appended to out.
  void Push(const Datagram& datagram, std::vector<Datagram>* out);
  // Everything still held back, as when the link has been idle for a while.
  void Drain(std::vector<Datagram>* out);

  const LossyLinkCounts& counts() const { return counts_; }

 private:
  bool Lose();
  void Emit(const Datagram& datagram, std::vector<Datagram>* out);

  struct Held {
    Datagram datagram;
    int after;  // later datagrams still to pass it
  };

  LossyLinkOptions options_;
  std::mt19937_64 random_;
  std::uniform_real_distribution<double> unit_{0.0, 1.0};
  bool in_burst_ = false;
  std::vector<Held> held_;
  LossyLinkCounts counts_;
};
