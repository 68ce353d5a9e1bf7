// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "support/input_error_reason.hpp"
#include "support/temp_dir.hpp"
#include "vantorel_base_utils/transforms.hpp"

namespace vbu = vantorel_base_utils;
using Reason = vbu::InputError::Reason;
using vantorel_test::inputErrorReason;

namespace {

std::string write(vantorel_test::TempDir& dir, const std::string& name, const std::string& text) {
  std::ofstream(dir.file(name)) << text;
  return dir.file(name);
}

}  // namespace

// The document form puts w first and ROS puts it last: one swapped index turns every point.
TEST(TransformFile, BothFormsGiveTheSameTransformAsWritten) {
  vantorel_test::TempDir dir;
  const auto document = vbu::readTransformFile(write(
      dir, "doc.json", R"({"translation": [0.3, -0.2, 1.2], "rotation": [0.9, 0.1, 0.2, 0.3]})"));
  const auto named =
      vbu::readTransformFile(write(dir, "named.yaml",
                                   "header: {frame_id: arm_base}\n"
                                   "child_frame_id: camera\n"
                                   "transform:\n"
                                   "  translation: {x: 0.3, y: -0.2, z: 1.2}\n"
                                   "  rotation: {x: 0.1, y: 0.2, z: 0.3, w: 0.9}\n"));
  for (const auto& t : {document, named}) {
    EXPECT_EQ(t.translation.x, 0.3);
    EXPECT_EQ(t.translation.y, -0.2);
    EXPECT_EQ(t.translation.z, 1.2);
    EXPECT_EQ(t.rotation.x, 0.1);
    EXPECT_EQ(t.rotation.y, 0.2);
    EXPECT_EQ(t.rotation.z, 0.3);
    EXPECT_EQ(t.rotation.w, 0.9);
  }
}

// A parser keeps one of two equal keys without a word; a transform file holding two is a
// mistake whichever one would win.
TEST(TransformFile, RefusesAMemberGivenTwiceInEitherFormNamingIt) {
  vantorel_test::TempDir dir;
  const std::string json_twice =
      write(dir, "twice.json",
            R"({"translation": [0, 0, 0], "rotation": [1, 0, 0, 0], "rotation": [0, 0, 0, 1]})");
  const std::string yaml_twice = write(dir, "twice.yaml",
                                       "translation: {x: 0, y: 0, z: 0}\n"
                                       "rotation: {x: 0, y: 0, z: 0, w: 1}\n"
                                       "rotation: {x: 0, y: 0, z: 1, w: 0}\n");
  for (const std::string& path : {json_twice, yaml_twice}) {
    try {
      vbu::readTransformFile(path);
      ADD_FAILURE() << path << " was read";
    } catch (const vbu::InputError& e) {
      EXPECT_EQ(e.reason(), Reason::kMalformed);
      EXPECT_NE(std::string(e.what()).find("rotation"), std::string::npos) << e.what();
      EXPECT_EQ(std::string(e.what()).rfind(path, 0), 0U) << e.what();
    }
  }
  EXPECT_EQ(inputErrorReason([&] { vbu::readTransformFile(dir.file("missing.json")); }),
            Reason::kUnreadable);
}
