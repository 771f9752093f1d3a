// Decodes the JPEGs the Windows probe captured (with libjpeg-turbo) and looks for the test pattern in
// each: every cell the capture shows must have its colour, at its place relative to the capture's
// rectangle. Writes a PNG of each capture for people to look at.
//
//   screenshot_check <folder with manifest.txt> <folder for the PNGs>
#include <turbojpeg.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/screenshot/screen_pattern.h"

namespace {

// A JPEG at quality 15 of a flat cell still lands within a few levels of it; a skewed row, a
// swapped channel or a misplaced rectangle is off by a hundred or more.
constexpr int kTolerance = 24;
// Samples keep this far from a cell's border, where 4:2:0 chroma and ringing blur the colours.
constexpr int kBorderMargin = 4;

struct Picture {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;
};

bool Decode(const std::string& path, Picture* out, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<unsigned char> jpeg((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  tjhandle handle = tjInitDecompress();
  int subsampling = 0, colourspace = 0;
  bool ok = !jpeg.empty() &&
            tjDecompressHeader3(handle, jpeg.data(), jpeg.size(), &out->width, &out->height, &subsampling,
                                &colourspace) == 0;
  if (ok) {
    out->rgb.resize(size_t(out->width) * out->height * 3);
    ok = tjDecompress2(handle, jpeg.data(), jpeg.size(), out->rgb.data(), out->width, out->width * 3, out->height,
                       TJPF_RGB, TJFLAG_STOPONWARNING) == 0;
  }
  if (!ok) *error = jpeg.empty() ? "empty or missing file" : tjGetErrorStr2(handle);
  tjDestroy(handle);
  return ok;
}

void PutBigEndian(std::string* out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<char>(value >> shift));
}

void PutChunk(std::string* png, const char* type, const std::string& data) {
  PutBigEndian(png, static_cast<uint32_t>(data.size()));
  const std::string body = std::string(type, 4) + data;
  png->append(body);
  PutBigEndian(png, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size())));
}

bool WritePng(const std::string& path, const Picture& picture) {
  std::string raw;
  for (int y = 0; y < picture.height; ++y) {
    raw.push_back(0);  // filter: none
    raw.append(reinterpret_cast<const char*>(&picture.rgb[size_t(y) * picture.width * 3]), picture.width * 3);
  }
  uLongf packed_size = compressBound(raw.size());
  std::string packed(packed_size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(&packed[0]), &packed_size, reinterpret_cast<const Bytef*>(raw.data()),
                raw.size(), 6) != Z_OK) {
    return false;
  }
  packed.resize(packed_size);
  std::string header;
  PutBigEndian(&header, picture.width);
  PutBigEndian(&header, picture.height);
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter choice, no interlace
  std::string png("\x89PNG\r\n\x1a\n", 8);
  PutChunk(&png, "IHDR", header);
  PutChunk(&png, "IDAT", packed);
  PutChunk(&png, "IEND", "");
  std::ofstream out(path, std::ios::binary);
  out.write(png.data(), static_cast<std::streamsize>(png.size()));
  return bool(out);
}

// Compares every cell the capture shows, at every sampled pixel away from the cell borders.
// Returns the number of cells compared; reports each wrong one.
int CheckCells(const Picture& picture, int left, int top, int* wrong) {
  int cells = 0;
  for (int cell_top = top / screenpattern::kCellHeight * screenpattern::kCellHeight; cell_top < top + picture.height;
       cell_top += screenpattern::kCellHeight) {
    for (int cell_left = left / screenpattern::kCellWidth * screenpattern::kCellWidth;
         cell_left < left + picture.width; cell_left += screenpattern::kCellWidth) {
      const int x0 = std::max(cell_left + kBorderMargin, left);
      const int x1 = std::min(cell_left + screenpattern::kCellWidth - kBorderMargin, left + picture.width);
      const int y0 = std::max(cell_top + kBorderMargin, top);
      const int y1 = std::min(cell_top + screenpattern::kCellHeight - kBorderMargin, top + picture.height);
      if (x0 >= x1 || y0 >= y1) continue;
      const screenpattern::Rgb expected = screenpattern::ColourAt(cell_left, cell_top);
      int worst = 0, worst_x = 0, worst_y = 0;
      for (int y = y0; y < y1; y += 3) {
        for (int x = x0; x < x1; x += 3) {
          const unsigned char* p = &picture.rgb[(size_t(y - top) * picture.width + (x - left)) * 3];
          const int d = std::max({std::abs(p[0] - expected.red), std::abs(p[1] - expected.green),
                                  std::abs(p[2] - expected.blue)});
          if (d > worst) worst = d, worst_x = x, worst_y = y;
        }
      }
      ++cells;
      if (worst > kTolerance) {
        ++*wrong;
        const unsigned char* p = &picture.rgb[(size_t(worst_y - top) * picture.width + (worst_x - left)) * 3];
        std::printf("  cell at (%d, %d): screen pixel (%d, %d) is %02X%02X%02X, drawn %02X%02X%02X\n", cell_left,
                    cell_top, worst_x, worst_y, p[0], p[1], p[2], expected.red, expected.green, expected.blue);
      }
    }
  }
  return cells;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: screenshot_check <capture folder> <picture folder>\n");
    return 2;
  }
  const std::string folder = argv[1];
  std::ifstream manifest(folder + "/manifest.txt");
  if (!manifest) {
    std::printf("FAIL no manifest in %s\n", argv[1]);
    return 1;
  }
  int failures = 0, images = 0;
  std::string line;
  while (std::getline(manifest, line)) {
    std::istringstream fields(line);
    std::string name;
    int left = 0, top = 0, width = 0, height = 0;
    if (!(fields >> name >> left >> top >> width >> height)) continue;
    ++images;
    Picture picture;
    std::string error;
    if (!Decode(folder + "/" + name, &picture, &error)) {
      std::printf("FAIL %s: libjpeg-turbo cannot decode it: %s\n", name.c_str(), error.c_str());
      ++failures;
      continue;
    }
    if (picture.width != width || picture.height != height) {
      std::printf("FAIL %s: %dx%d, captured %dx%d\n", name.c_str(), picture.width, picture.height, width, height);
      ++failures;
      continue;
    }
    int wrong = 0;
    const int cells = CheckCells(picture, left, top, &wrong);
    std::printf("%s %s: %dx%d at (%d, %d), %d cells, %d wrong\n", wrong == 0 && cells > 0 ? "ok  " : "FAIL",
                name.c_str(), width, height, left, top, cells, wrong);
    if (wrong != 0 || cells == 0) ++failures;
    const std::string png = std::string(argv[2]) + "/" + name.substr(0, name.size() - 4) + ".png";
    if (!WritePng(png, picture)) {
      std::printf("FAIL cannot write %s\n", png.c_str());
      ++failures;
    }
  }
  if (images == 0) {
    std::printf("FAIL the manifest names no capture\n");
    ++failures;
  }
  return failures == 0 ? 0 : 1;
}
