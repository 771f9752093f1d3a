#include "block_decoder.h"

#include <cstring>

#include "client/erasure_code.h"

namespace reassembly {
namespace {

// Inverts the n x n matrix m (row-major) in place by Gauss-Jordan elimination over GF(2^8).
bool InvertMatrix(std::vector<uint8_t>& m, size_t n) {
  std::vector<uint8_t> inverse(n * n, 0);
  for (size_t i = 0; i < n; ++i) inverse[i * n + i] = 1;
  for (size_t column = 0; column < n; ++column) {
    size_t pivot = column;
    while (pivot < n && m[pivot * n + column] == 0) ++pivot;
    if (pivot == n) return false;
    if (pivot != column) {
      for (size_t k = 0; k < n; ++k) {
        std::swap(m[pivot * n + k], m[column * n + k]);
        std::swap(inverse[pivot * n + k], inverse[column * n + k]);
      }
    }
    const uint8_t scale = GfInverse(m[column * n + column]);
    GfScale(&m[column * n], n, scale);
    GfScale(&inverse[column * n], n, scale);
    for (size_t row = 0; row < n; ++row) {
      const uint8_t factor = m[row * n + column];
      if (row == column || factor == 0) continue;
      GfMulAdd(&m[row * n], &m[column * n], n, factor);
      GfMulAdd(&inverse[row * n], &inverse[column * n], n, factor);
    }
  }
  m.swap(inverse);
  return true;
}

}  // namespace

bool RebuildBlock(CodedBlock& block) {
  const uint32_t k = block.source_count;
  std::vector<uint32_t> lost;
  for (uint32_t p = 0; p < k; ++p) {
    if (!block.present[p]) lost.push_back(p);
  }
  if (lost.empty()) return true;
  std::vector<uint32_t> repairs;
  for (uint32_t r = 0; r < block.repair_count && repairs.size() < lost.size(); ++r) {
    if (block.present[k + r]) repairs.push_back(r);
  }
  if (repairs.size() < lost.size()) return false;

  const size_t e = lost.size();
  const size_t size = block.symbol_size;
  // Each chosen repair less the part of it that the known sources make up.
  std::vector<std::vector<uint8_t>> residual(e);
  for (size_t a = 0; a < e; ++a) {
    const uint32_t r = repairs[a];
    residual[a].assign(block.symbols[k + r], block.symbols[k + r] + size);
    for (uint32_t p = 0; p < k; ++p) {
      if (block.present[p]) GfMulAdd(residual[a].data(), block.symbols[p], size, CauchyCoefficient(int(r), int(p)));
    }
  }
  std::vector<uint8_t> matrix(e * e);
  for (size_t a = 0; a < e; ++a) {
    for (size_t b = 0; b < e; ++b) matrix[a * e + b] = CauchyCoefficient(int(repairs[a]), int(lost[b]));
  }
  if (!InvertMatrix(matrix, e)) return false;  // cannot happen for a Cauchy matrix
  for (size_t b = 0; b < e; ++b) {
    uint8_t* out = block.symbols[lost[b]];
    std::memset(out, 0, size);
    for (size_t a = 0; a < e; ++a) GfMulAdd(out, residual[a].data(), size, matrix[b * e + a]);
    block.present[lost[b]] = true;
  }
  return true;
}

}  // namespace reassembly
