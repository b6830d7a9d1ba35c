// Fuzz target "image": image bytes of any length through loading (load_image, which
// identifies the image by its area maps) and, when the image loads, the /D listing.
//
// Checked: loading refuses exactly the images over 1 MiB (-1) and otherwise ends in 0
// or 75 (an empty image is never identified); a loaded image lies right-aligned in the
// zero-filled window and its region bounds inside it; the area-map search gives the
// same answer when repeated; the listing never changes the window, never lists more
// than a region's space (its totals add up), ends the run only through fatal (exit code
// 1) and otherwise leaves no working file behind.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/harness.hpp"
#include "image/window.hpp"

using namespace fuzzing;

namespace {

constexpr const char* IMAGE_NAME = "image.bin";
constexpr const char* LISTING_NAME = "listing.txt";

void check_loaded(const Bytes& bytes) {
  if (image.window.base.size() != WINDOW_SIZE) broken("window is not 1 MiB");
  if (image.window.image_size != bytes.size()) broken("image size differs from the file");
  const std::uint32_t base = WINDOW_SIZE - image.window.image_size;
  for (std::uint32_t i = 0; i < base; ++i)
    if (image.window.base[i] != 0) broken("window below the image is not zero");
  if (!bytes.empty() && std::memcmp(image.window.base.data() + base, bytes.data(), bytes.size()) != 0)
    broken("window does not hold the image");
  for (const RegionDescriptor& r : image.regions)
    if (r.start > WINDOW_MASK || r.end > WINDOW_MASK) broken("region bound outside the window");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  InputScope scope;
  const Bytes bytes(data, data + size);
  write_file(IMAGE_NAME, bytes);

  int loaded = 0;
  try {
    loaded = load_image(IMAGE_NAME);
  } catch (const RunEnded& e) {
    broken("loading ended the run with " + std::to_string(e.status));
  }
  if (loaded == -1) {
    if (size <= WINDOW_SIZE) broken("an image of at most 1 MiB was refused");
    return 0;
  }
  if (size > WINDOW_SIZE) broken("an oversized image was loaded");
  if (loaded != 0) {
    if (loaded != 75) broken("loading gave " + std::to_string(loaded));
    return 0;
  }
  if (size == 0) broken("an empty image was identified");
  check_loaded(bytes);

  // The search is a pure function of the window: a second one finds the same bounds.
  const auto regions = image.regions;
  if (find_area_maps() != 0) broken("second area-map search failed");
  for (int row = 0; row < REGION_COUNT; ++row) {
    if ((image.regions[row].start & WINDOW_MASK) != regions[row].start ||
        (image.regions[row].end & WINDOW_MASK) != regions[row].end)
      broken("second area-map search found other bounds");
  }
  image.regions = regions;

  const Bytes window = image.window.base;
  const bool ended = list_into(LISTING_NAME);
  if (image.window.base != window) broken("listing changed the window");
  if (!ended && directory_entries() != std::vector<std::string>{IMAGE_NAME, LISTING_NAME})
    broken("listing left a working file behind");
  return 0;
}
