#include "pcd_file.hpp"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
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

PcdField pcdFieldOf(const PointField& field) {
  PcdField out{field.name, 'F', 4, field.count, field.offset};
  switch (field.datatype) {
    case PointField::INT8:
      out.type = 'I', out.size = 1;
      break;
    case PointField::UINT8:
      out.type = 'U', out.size = 1;
      break;
    case PointField::INT16:
      out.type = 'I', out.size = 2;
      break;
    case PointField::UINT16:
      out.type = 'U', out.size = 2;
      break;
    case PointField::INT32:
      out.type = 'I', out.size = 4;
      break;
    case PointField::UINT32:
      out.type = 'U', out.size = 4;
      break;
    case PointField::FLOAT32:
      break;
    case PointField::FLOAT64:
      out.size = 8;
      break;
    default:
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
  return out;
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
  header << "# .PCD v0.7 - Point Cloud Data file format\nVERSION 0.7\nFIELDS";
  for (const auto& f : fields)
    header << ' ' << f.name;
  header << "\nSIZE";
  for (const auto& f : fields)
    header << ' ' << f.size;
  header << "\nTYPE";
  for (const auto& f : fields)
    header << ' ' << f.type;
  header << "\nCOUNT";
  for (const auto& f : fields)
    header << ' ' << f.count;
  header << "\nWIDTH " << cloud.width << "\nHEIGHT " << cloud.height
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
