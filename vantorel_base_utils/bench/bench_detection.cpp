// SPDX-License-Identifier: Apache-2.0
// One synthetic 1280x720 detector frame (4 whole-frame class masks, 12 detections, 4 of them
// with their own instance mask) through each step of the detection road, and the whole road.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <rclcpp/logger.hpp>

#include <libdeflate.h>
#include <zlib.h>
#ifdef VANTOREL_BENCH_WITH_ISAL
#include <isa-l/igzip_lib.h>
#endif
#ifdef VANTOREL_BENCH_WITH_SPNG
#include <spng.h>
#endif

#include "detection/mask_codec.hpp"
#include "detection/mask_scan.hpp"
#include "detection/png_fast_path/png_gray_decode.hpp"
#include "detection_frame.hpp"
#include "vantorel_base_utils/yolo_mask_parser.hpp"

namespace ymp = vantorel_base_utils::yolo_mask_parser;
using vantorel_bench::Box;
using vantorel_bench::frame;
using vantorel_bench::kClasses;

namespace {

void perFrame(benchmark::State& state) {
  state.counters["frames/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Parse(benchmark::State& state) {
  const auto logger = rclcpp::get_logger("bench");
  for (auto _ : state) {
    benchmark::DoNotOptimize(ymp::parseYoloResult(frame().json_text, logger));
  }
  perFrame(state);
}

void BM_Base64Decode(benchmark::State& state) {
  for (auto _ : state) {
    for (const auto& text : frame().mask_texts) {
      benchmark::DoNotOptimize(ymp::decodeBase64(text));
    }
  }
  perFrame(state);
}

void BM_PngDecode(benchmark::State& state) {
  for (auto _ : state) {
    for (const auto& png : frame().pngs) {
      benchmark::DoNotOptimize(cv::imdecode(png, cv::IMREAD_GRAYSCALE));
    }
  }
  perFrame(state);
}

// The library's grayscale PNG path: chunk checks, libdeflate, the zlib-rules walk, unfiltering.
void BM_PngDecodeFast(benchmark::State& state) {
  for (auto _ : state) {
    for (const auto& png : frame().pngs) {
      benchmark::DoNotOptimize(ymp::decodeGrayPng(png.data(), png.size()));
    }
  }
  perFrame(state);
}

// The inflaters side by side on the same image data: the zlib streams of the 4 class masks
// (IDAT contents), inflated into a buffer of the exact size, one call each.
struct ZlibStream {
  std::vector<std::uint8_t> compressed;
  std::size_t inflated_size = 0;
};

std::vector<ZlibStream> classMaskStreams() {
  std::vector<ZlibStream> streams;
  for (std::size_t m = 0; m < kClasses; ++m) {
    const std::vector<std::uint8_t>& png = frame().pngs[m];
    ZlibStream stream;
    for (std::size_t pos = 8; pos + 12 <= png.size();) {
      const std::size_t length = (std::size_t{png[pos]} << 24) | (std::size_t{png[pos + 1]} << 16) |
                                 (std::size_t{png[pos + 2]} << 8) | png[pos + 3];
      if (std::equal(png.begin() + static_cast<long>(pos + 4),
                     png.begin() + static_cast<long>(pos + 8), "IDAT")) {
        stream.compressed.insert(stream.compressed.end(), png.begin() + static_cast<long>(pos + 8),
                                 png.begin() + static_cast<long>(pos + 8 + length));
      }
      pos += length + 12;
    }
    stream.inflated_size =
        static_cast<std::size_t>(vantorel_bench::kHeight) * (vantorel_bench::kWidth + 1);
    streams.push_back(std::move(stream));
  }
  return streams;
}

template <typename Inflate>
void inflateEach(benchmark::State& state, Inflate inflate) {
  const std::vector<ZlibStream> streams = classMaskStreams();
  std::vector<std::uint8_t> out(streams.front().inflated_size);
  for (const ZlibStream& stream : streams) {  // every inflater must give the whole image data
    if (!inflate(stream, out)) {
      state.SkipWithError("inflate failed");
      return;
    }
  }
  for (auto _ : state) {
    for (const ZlibStream& stream : streams) {
      benchmark::DoNotOptimize(inflate(stream, out));
    }
  }
  perFrame(state);
}

void BM_InflateZlib(benchmark::State& state) {
  inflateEach(state, [](const ZlibStream& stream, std::vector<std::uint8_t>& out) {
    uLongf size = out.size();
    return uncompress(out.data(), &size, stream.compressed.data(), stream.compressed.size()) ==
               Z_OK &&
           size == stream.inflated_size;
  });
}

void BM_InflateLibdeflate(benchmark::State& state) {
  inflateEach(state, [](const ZlibStream& stream, std::vector<std::uint8_t>& out) {
    libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    std::size_t size = 0;
    const bool ok =
        libdeflate_zlib_decompress(decompressor, stream.compressed.data(), stream.compressed.size(),
                                   out.data(), out.size(), &size) == LIBDEFLATE_SUCCESS;
    libdeflate_free_decompressor(decompressor);
    return ok && size == stream.inflated_size;
  });
}

#ifdef VANTOREL_BENCH_WITH_ISAL
void BM_InflateIsal(benchmark::State& state) {
  inflateEach(state, [](const ZlibStream& stream, std::vector<std::uint8_t>& out) {
    inflate_state inflater;
    isal_inflate_init(&inflater);
    inflater.crc_flag = ISAL_ZLIB;
    inflater.next_in = const_cast<std::uint8_t*>(stream.compressed.data());
    inflater.avail_in = static_cast<std::uint32_t>(stream.compressed.size());
    inflater.next_out = out.data();
    inflater.avail_out = static_cast<std::uint32_t>(out.size());
    return isal_inflate(&inflater) == ISAL_DECOMP_OK && inflater.block_state == ISAL_BLOCK_FINISH &&
           inflater.total_out == stream.inflated_size;
  });
}
BENCHMARK(BM_InflateIsal)->Unit(benchmark::kMicrosecond);
#endif

#ifdef VANTOREL_BENCH_WITH_SPNG
// A whole PNG decoder (its inflate is zlib's), for the 4 class masks.
void BM_PngDecodeSpng(benchmark::State& state) {
  for (auto _ : state) {
    for (std::size_t m = 0; m < kClasses; ++m) {
      const std::vector<std::uint8_t>& png = frame().pngs[m];
      spng_ctx* context = spng_ctx_new(0);
      spng_set_png_buffer(context, png.data(), png.size());
      std::size_t size = 0;
      spng_decoded_image_size(context, SPNG_FMT_G8, &size);
      std::vector<std::uint8_t> image(size);
      benchmark::DoNotOptimize(spng_decode_image(context, image.data(), size, SPNG_FMT_G8, 0));
      spng_ctx_free(context);
    }
  }
  perFrame(state);
}
BENCHMARK(BM_PngDecodeSpng)->Unit(benchmark::kMicrosecond);
#endif

void BM_PngDecodeClassMasksImdecode(benchmark::State& state) {
  for (auto _ : state) {
    for (std::size_t m = 0; m < kClasses; ++m) {
      benchmark::DoNotOptimize(cv::imdecode(frame().pngs[m], cv::IMREAD_GRAYSCALE));
    }
  }
  perFrame(state);
}

void BM_PngDecodeClassMasksFast(benchmark::State& state) {
  for (auto _ : state) {
    for (std::size_t m = 0; m < kClasses; ++m) {
      benchmark::DoNotOptimize(ymp::decodeGrayPng(frame().pngs[m].data(), frame().pngs[m].size()));
    }
  }
  perFrame(state);
}

void BM_WindowCopy(benchmark::State& state) {
  for (auto _ : state) {
    for (std::size_t i = kClasses; i < frame().boxes.size(); ++i) {  // the class-mask cuts
      const Box& box = frame().boxes[i];
      benchmark::DoNotOptimize(
          frame().class_masks[static_cast<std::size_t>(box.cls)](box.rect).clone());
    }
  }
  perFrame(state);
}

void BM_PixelScan(benchmark::State& state) {
  std::size_t pixels_per_frame = 0;
  for (const auto& instances : frame().map) {
    for (const auto& pixels : instances.second) {
      pixels_per_frame += pixels.size();
    }
  }
  state.counters["pixels"] = static_cast<double>(pixels_per_frame);
  for (auto _ : state) {
    for (const cv::Mat& window : frame().windows) {
      std::vector<std::array<int, 2>> pixels;
      ymp::appendSetPixels(window, 3, 4, pixels);
      benchmark::DoNotOptimize(pixels.data());
    }
  }
  perFrame(state);
}

// The plain byte-by-byte loop with push_back, as the yardstick for the library's scan.
void BM_PixelScanBytewise(benchmark::State& state) {
  for (auto _ : state) {
    for (const cv::Mat& window : frame().windows) {
      std::vector<std::array<int, 2>> pixels;
      for (int r = 0; r < window.rows; ++r) {
        const std::uint8_t* row = window.ptr<std::uint8_t>(r);
        for (int c = 0; c < window.cols; ++c) {
          if (row[c] != 0) {
            pixels.push_back({3 + c, 4 + r});
          }
        }
      }
      benchmark::DoNotOptimize(pixels.data());
    }
  }
  perFrame(state);
}

void BM_RoiPngEncode(benchmark::State& state) {
  for (auto _ : state) {
    for (const cv::Mat& window : frame().windows) {
      benchmark::DoNotOptimize(ymp::encodeMaskBase64(window));
    }
  }
  perFrame(state);
}

void BM_MapToJson(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(ymp::instancePixelMapToJson(frame().map));
  }
  perFrame(state);
}

void BM_MapToJsonText(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(ymp::instancePixelMapToJsonText(frame().map));
  }
  perFrame(state);
}

void BM_MapToJsonDump(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(ymp::instancePixelMapToJson(frame().map).dump());
  }
  perFrame(state);
}

void BM_BuildPixelMap(benchmark::State& state) {
  const auto logger = rclcpp::get_logger("bench");
  for (auto _ : state) {
    benchmark::DoNotOptimize(ymp::buildInstancePixelMap(frame().parsed, logger));
  }
  perFrame(state);
}

ymp::InstancePixelMap roadToPixelMap(const rclcpp::Logger& logger) {
  const auto parsed = ymp::parseYoloResult(frame().json_text, logger);
  const auto kept = ymp::sameClassBboxNms(ymp::filterParsedYolo(parsed, {}), 0.5F, logger);
  return ymp::buildInstancePixelMap(kept, logger);
}

void BM_WholeRoad(benchmark::State& state) {
  const auto logger = rclcpp::get_logger("bench");
  for (auto _ : state) {
    benchmark::DoNotOptimize(roadToPixelMap(logger));
  }
  perFrame(state);
}

void BM_WholeRoadWithJson(benchmark::State& state) {
  const auto logger = rclcpp::get_logger("bench");
  for (auto _ : state) {
    benchmark::DoNotOptimize(ymp::instancePixelMapToJson(roadToPixelMap(logger)));
  }
  perFrame(state);
}

}  // namespace

BENCHMARK(BM_Parse)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Base64Decode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PngDecode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PngDecodeFast)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PngDecodeClassMasksImdecode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PngDecodeClassMasksFast)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_InflateZlib)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_InflateLibdeflate)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WindowCopy)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PixelScan)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PixelScanBytewise)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RoiPngEncode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MapToJson)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MapToJsonDump)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MapToJsonText)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BuildPixelMap)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WholeRoad)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WholeRoadWithJson)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
