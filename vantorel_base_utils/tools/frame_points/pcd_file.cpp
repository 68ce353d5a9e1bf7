// SPDX-License-Identifier: Apache-2.0
#include "pcd_file.hpp"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <sensor_msgs/msg/point_field.hpp>

namespace vantorel_tools {

namespace {

using sensor_msgs::msg::PointCloud2;
using sensor_msgs::msg::PointField;

struct PcdField {
  std::string name;
  char type = 'F';  // I signed, U unsigned, F floating point
  std::uint32_t size = 4;
  std::uint32_t count = 1;
  std::uint32_t offset = 0;
  std::uint32_t bytes() const { return size * count; }
};

// PCD's TYPE and SIZE of each PointField datatype.
struct PcdType {
  std::uint8_t datatype;
  char type;
  std::uint32_t size;
};
constexpr PcdType kPcdTypes[] = {{PointField::INT8, 'I', 1},    {PointField::UINT8, 'U', 1},
                                 {PointField::INT16, 'I', 2},   {PointField::UINT16, 'U', 2},
                                 {PointField::INT32, 'I', 4},   {PointField::UINT32, 'U', 4},
                                 {PointField::FLOAT32, 'F', 4}, {PointField::FLOAT64, 'F', 8}};

PcdField pcdFieldOf(const PointField& field) {
  const auto* known = std::find_if(std::begin(kPcdTypes), std::end(kPcdTypes),
                                   [&](const PcdType& t) { return t.datatype == field.datatype; });
  if (known == std::end(kPcdTypes)) {
    throw std::invalid_argument("field " + field.name + ": unknown datatype " +
                                std::to_string(int{field.datatype}));
  }
  const bool plain_name =
      !field.name.empty() && std::all_of(field.name.begin(), field.name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
      });
  if (!plain_name || field.count == 0) {
    throw std::invalid_argument("field \"" + field.name + "\" cannot be a PCD field");
  }
  return {field.name, known->type, known->size, field.count, field.offset};
}

// The fields in memory order, each inside the point and none overlapping the next.
std::vector<PcdField> pcdFieldsOf(const PointCloud2& cloud) {
  if (cloud.fields.empty()) {
    throw std::invalid_argument("the cloud has no fields");
  }
  std::vector<PcdField> fields;
  for (const PointField& field : cloud.fields) {
    fields.push_back(pcdFieldOf(field));
  }
  std::sort(fields.begin(), fields.end(),
            [](const PcdField& a, const PcdField& b) { return a.offset < b.offset; });
  std::uint64_t end = 0;
  for (const PcdField& field : fields) {
    if (field.offset < end || std::uint64_t{field.offset} + field.bytes() > cloud.point_step) {
      throw std::invalid_argument("field " + field.name + " overlaps another or the next point");
    }
    end = std::uint64_t{field.offset} + field.bytes();
  }
  return fields;
}

void requireDataFits(const PointCloud2& cloud) {
  const std::uint64_t row = std::uint64_t{cloud.point_step} * cloud.width;
  if (cloud.height > 0 &&
      (row > cloud.row_step ||
       std::uint64_t{cloud.row_step} * (cloud.height - 1) + row > cloud.data.size())) {
    throw std::invalid_argument("the cloud's data is shorter than its size and steps state");
  }
}

bool hostIsBigEndian() {
  const std::uint16_t one = 1;
  unsigned char first = 0;
  std::memcpy(&first, &one, 1);
  return first == 0;
}

std::string headerOf(const PointCloud2& cloud, const std::vector<PcdField>& fields) {
  std::ostringstream header;
  header << "# .PCD v0.7 - Point Cloud Data file format\nVERSION 0.7\n";
  const auto line = [&](const char* keyword, auto value_of) {
    header << keyword;
    for (const PcdField& field : fields) {
      header << ' ' << value_of(field);
    }
    header << '\n';
  };
  line("FIELDS", [](const PcdField& f) { return f.name; });
  line("SIZE", [](const PcdField& f) { return f.size; });
  line("TYPE", [](const PcdField& f) { return f.type; });
  line("COUNT", [](const PcdField& f) { return f.count; });
  header << "WIDTH " << cloud.width << "\nHEIGHT " << cloud.height
         << "\nVIEWPOINT 0 0 0 1 0 0 0\nPOINTS " << std::uint64_t{cloud.width} * cloud.height
         << "\nDATA binary\n";
  return header.str();
}

}  // namespace

std::string pcdBinary(const PointCloud2& cloud) {
  if (cloud.is_bigendian != hostIsBigEndian()) {
    throw std::invalid_argument("the cloud's byte order is not the host's");
  }
  const std::vector<PcdField> fields = pcdFieldsOf(cloud);
  requireDataFits(cloud);
  std::uint64_t packed_step = 0;
  for (const PcdField& field : fields) {
    packed_step += field.bytes();
  }
  std::string file = headerOf(cloud, fields);
  std::size_t at = file.size();
  file.resize(at + packed_step * cloud.width * cloud.height);
  for (std::uint32_t row = 0; row < cloud.height; ++row) {
    const std::uint8_t* point = cloud.data.data() + std::size_t{row} * cloud.row_step;
    for (std::uint32_t column = 0; column < cloud.width; ++column, point += cloud.point_step) {
      for (const PcdField& field : fields) {
        std::memcpy(&file[at], point + field.offset, field.bytes());
        at += field.bytes();
      }
    }
  }
  return file;
}

}  // namespace vantorel_tools
