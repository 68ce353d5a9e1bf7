// SPDX-License-Identifier: Apache-2.0
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <string>

#include "rcpputils/find_library.hpp"
#include "rcpputils/shared_library.hpp"
#include "rcutils/error_handling.h"
#include "rosidl_typesupport_c/type_support_map.h"
#include "rosidl_typesupport_cpp/identifier.hpp"
#include "rosidl_typesupport_cpp/message_type_support_dispatch.hpp"
#include "rosidl_typesupport_cpp/service_type_support_dispatch.hpp"

namespace rosidl_typesupport_cpp {
namespace {

// Guards the library slots of every map: two threads resolving the same handle for the
// first time must not both load the library and overwrite each other's slot.
std::mutex& slotMutex() {
  static std::mutex mutex;
  return mutex;
}

void setError(const std::string& text) {
  rcutils_reset_error();
  RCUTILS_SET_ERROR_MSG(text.c_str());
}

// Loads lib<package>__<identifier> on the first call for this slot and keeps it for the
// life of the process; later calls reuse it. Returns null with the error set on failure.
rcpputils::SharedLibrary* slotLibrary(const type_support_map_t& map, size_t index) {
  std::lock_guard<std::mutex> lock(slotMutex());
  if (map.data[index] != nullptr) {
    return static_cast<rcpputils::SharedLibrary*>(map.data[index]);
  }
  const std::string library_name =
      std::string(map.package_name) + "__" + map.typesupport_identifier[index];
  const std::string path = rcpputils::find_library_path(library_name);
  if (path.empty()) {
    setError("type support library '" + library_name + "' not found in LD_LIBRARY_PATH");
    return nullptr;
  }
  try {
    auto library = std::make_unique<rcpputils::SharedLibrary>(path);
    map.data[index] = library.get();
    return library.release();
  } catch (const std::exception& error) {
    setError("could not load type support library '" + path + "': " + error.what());
    return nullptr;
  }
}

template <typename Handle>
const Handle* resolveEntry(const type_support_map_t& map, size_t index) {
  rcpputils::SharedLibrary* library = slotLibrary(map, index);
  if (library == nullptr) {
    return nullptr;
  }
  const char* symbol = map.symbol_name[index];
  if (symbol == nullptr || !library->has_symbol(symbol)) {
    setError(std::string("symbol '") + (symbol ? symbol : "(null)") + "' not found in '" +
             library->get_library_path() + "'");
    return nullptr;
  }
  using EntryPoint = const Handle* (*)();
  const auto entry = reinterpret_cast<EntryPoint>(library->get_symbol(symbol));
  const Handle* resolved = entry();
  if (resolved == nullptr) {
    setError(std::string("entry point '") + symbol + "' returned no type support");
  }
  return resolved;
}

template <typename Handle>
const Handle* dispatch(const Handle* handle, const char* identifier) {
  if (handle == nullptr || identifier == nullptr || handle->typesupport_identifier == nullptr) {
    setError("type support look-up needs a handle with an identifier and a wanted identifier");
    return nullptr;
  }
  if (std::strcmp(handle->typesupport_identifier, identifier) == 0) {
    return handle;
  }
  if (handle->typesupport_identifier != typesupport_identifier || handle->data == nullptr) {
    setError(std::string("handle of type support '") + handle->typesupport_identifier +
             "' cannot be dispatched to '" + identifier + "'");
    return nullptr;
  }
  const auto& map = *static_cast<const type_support_map_t*>(handle->data);
  if (map.package_name == nullptr || map.typesupport_identifier == nullptr ||
      map.symbol_name == nullptr || map.data == nullptr) {
    setError("dispatching handle has an incomplete type support map");
    return nullptr;
  }
  for (size_t index = 0; index < map.size; ++index) {
    const char* candidate = map.typesupport_identifier[index];
    if (candidate != nullptr && std::strcmp(candidate, identifier) == 0) {
      return resolveEntry<Handle>(map, index);
    }
  }
  setError(std::string("type support '") + identifier + "' is not offered by package '" +
           map.package_name + "'");
  return nullptr;
}

// The look-up functions are stored in C handle records and called from C code paths, so
// nothing may escape them; every failure becomes a null result with the error set.
template <typename Handle>
const Handle* dispatchNoThrow(const Handle* handle, const char* identifier) noexcept {
  try {
    return dispatch(handle, identifier);
  } catch (const std::exception& error) {
    setError(std::string("type support look-up failed: ") + error.what());
  } catch (...) {
    setError("type support look-up failed");
  }
  return nullptr;
}

}  // namespace

const rosidl_message_type_support_t* get_message_typesupport_handle_function(
    const rosidl_message_type_support_t* handle, const char* identifier) noexcept {
  return dispatchNoThrow(handle, identifier);
}

const rosidl_service_type_support_t* get_service_typesupport_handle_function(
    const rosidl_service_type_support_t* handle, const char* identifier) noexcept {
  return dispatchNoThrow(handle, identifier);
}

}  // namespace rosidl_typesupport_cpp
