// The whole platform port: one reference per concern. Each adapter (the real
// Windows one and the simulated machine) provides all of them.
#pragma once

#include "platform/port/file_system.h"
#include "platform/port/post_library.h"
#include "platform/port/power_profile.h"
#include "platform/port/processes.h"
#include "platform/port/registry.h"
#include "platform/port/system.h"
#include "platform/port/xml_dom.h"

namespace zrt::port {

struct Platform {
  Registry& registry;
  FileSystem& files;
  Processes& processes;
  PowerProfile& power;
  XmlParser& xml;
  PostLibrary& post;
  System& system;
};

}  // namespace zrt::port
