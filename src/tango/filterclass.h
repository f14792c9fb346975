// SPDX-License-Identifier: MIT
#pragma once
// The Tango class MerovaskFilter: its attributes with their properties, its commands and its devices, made
// once per server by Tango's class factory (DServer::class_factory, in main.cpp).

#include <tango/tango.h>

namespace tangoserver {

class MerovaskFilterClass : public Tango::DeviceClass {
  public:
    static MerovaskFilterClass* init(const char* name);

  protected:
    explicit MerovaskFilterClass(std::string name);
    void command_factory() override;
    void attribute_factory(std::vector<Tango::Attr*>& attributes) override;
    void device_factory(const Tango::DevVarStringArray* names) override;
};

} // namespace tangoserver
