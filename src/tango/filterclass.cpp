// SPDX-License-Identifier: MIT
#include "filterclass.h"

#include "filterdevice.h"

#include <functional>

namespace tangoserver {

namespace {

// An attribute whose reading and writing are the device's.
class FilterAttr : public Tango::Attr {
  public:
    using Read = std::function<void(MerovaskFilter&, Tango::Attribute&)>;
    using Write = std::function<void(MerovaskFilter&, Tango::WAttribute&)>;

    FilterAttr(const char* name, long type, Read read, Write write = {})
        : Tango::Attr(name, type, write ? Tango::READ_WRITE : Tango::READ), read_(std::move(read)),
          write_(std::move(write)) {}

    void read(Tango::DeviceImpl* device, Tango::Attribute& attr) override {
        read_(*static_cast<MerovaskFilter*>(device), attr);
    }
    void write(Tango::DeviceImpl* device, Tango::WAttribute& attr) override {
        write_(*static_cast<MerovaskFilter*>(device), attr);
    }

  private:
    Read read_;
    Write write_;
};

// A command that the device carries out.
class FilterCommand : public Tango::Command {
  public:
    using Run = std::function<CORBA::Any*(FilterCommand&, MerovaskFilter&, const CORBA::Any&)>;

    FilterCommand(const char* name, Tango::CmdArgType in, Tango::CmdArgType out, const char* inText,
                  const char* outText, Tango::DispLevel level, Run run)
        : Tango::Command(name, in, out, inText, outText, level), run_(std::move(run)) {}

    CORBA::Any* execute(Tango::DeviceImpl* device, const CORBA::Any& in) override {
        return run_(*this, *static_cast<MerovaskFilter*>(device), in);
    }

    // Command's helpers, for the runs.
    using Tango::Command::extract;
    using Tango::Command::insert;

  private:
    Run run_;
};

struct Shown {
    const char* label;
    const char* unit;
    const char* format;
    const char* description;
    const char* min = nullptr; // the writable range that Tango itself holds the clients to
    const char* max = nullptr;
};

void describe(Tango::Attr& attr, const Shown& shown) {
    Tango::UserDefaultAttrProp props;
    props.set_label(shown.label);
    if (shown.unit[0] != '\0') {
        props.set_unit(shown.unit);
    }
    if (shown.format[0] != '\0') {
        props.set_format(shown.format);
    }
    props.set_description(shown.description);
    if (shown.min != nullptr) {
        props.set_min_value(shown.min);
        props.set_max_value(shown.max);
    }
    attr.set_default_properties(props);
}

MerovaskFilterClass* theClass = nullptr;

} // namespace

MerovaskFilterClass::MerovaskFilterClass(std::string name) : Tango::DeviceClass(name) {}

MerovaskFilterClass* MerovaskFilterClass::init(const char* name) {
    if (theClass == nullptr) {
        theClass = new MerovaskFilterClass(name);
    }
    return theClass;
}

void MerovaskFilterClass::attribute_factory(std::vector<Tango::Attr*>& attributes) {
    const auto add = [&attributes](FilterAttr* attr, const Shown& shown) {
        describe(*attr, shown);
        attributes.push_back(attr);
        return attr;
    };

    FilterAttr* wavelength = add(
        new FilterAttr(attr::kWavelength, Tango::DEV_DOUBLE, &MerovaskFilter::readWavelength,
                       &MerovaskFilter::writeWavelength),
        {"Wavelength", "nm", "%.0f",
         "The wavelength last sent (whole nm). A written value is rounded and limited to WavelengthMin to "
         "WavelengthMax as the panel limits it; reading it back tells what went out."});
    wavelength->set_change_event(true, false);
    add(new FilterAttr("WavelengthMin", Tango::DEV_DOUBLE,
                       [](MerovaskFilter& d, Tango::Attribute& a) { d.readLimit(a, false); }),
        {"Lowest wavelength", "nm", "%.0f", "The lower end of the range in force (the last calibration's)."});
    add(new FilterAttr("WavelengthMax", Tango::DEV_DOUBLE,
                       [](MerovaskFilter& d, Tango::Attribute& a) { d.readLimit(a, true); }),
        {"Highest wavelength", "nm", "%.0f",
         "The upper end of the range in force (the last calibration's)."});
    add(new FilterAttr("Frequency", Tango::DEV_DOUBLE, &MerovaskFilter::readFrequency),
        {"Frequency", "THz", "%.4f", "The frequency of the wavelength in force, in vacuum."});

    FilterAttr* channel =
        add(new FilterAttr(attr::kChannel, Tango::DEV_SHORT, &MerovaskFilter::readChannel,
                           &MerovaskFilter::writeChannel),
            {"Switch output", "", "%d", "The 1x4 switch's output last selected, 1 to 4.", "1", "4"});
    channel->set_change_event(true, false);

    struct Box {
        const char* name;
        ScanBox box;
        Shown shown;
    };
    const Box boxes[] = {
        {"ScanStart",
         kScanStart,
         {"Scan start", "nm", "%.0f", "The scan's first wavelength for ApplyScanSettings."}},
        {"ScanEnd",
         kScanEnd,
         {"Scan end", "nm", "%.0f", "The scan's last wavelength for ApplyScanSettings."}},
        {"ScanStayTime",
         kScanStayTime,
         {"Scan stay time", "x100 ms", "%.0f",
          "The stay time at each wavelength, 1 to 300, in units of 100 ms."}},
        {"ScanSpan", kScanSpan, {"Scan span", "", "%.0f", "The span that StartScan scans with, 1 to 30."}},
    };
    for (const Box& b : boxes) {
        FilterAttr* scan =
            add(new FilterAttr(
                    b.name, Tango::DEV_DOUBLE,
                    [box = b.box](MerovaskFilter& d, Tango::Attribute& a) { d.readScan(a, box); },
                    [box = b.box](MerovaskFilter& d, Tango::WAttribute& a) { d.writeScan(a, box); }),
                b.shown);
        scan->set_memorized();
        scan->set_memorized_init(true);
    }

    add(new FilterAttr("CalibrationDate", Tango::DEV_STRING, &MerovaskFilter::readCalibrationDate),
        {"Calibration date", "", "%s",
         "When the calibration table was loaded, as the console's get reads it (W103, W104, W105): "
         "YYYY-MM-DD HH:MM, or the device's replies as they came when they are not a date."});
    FilterAttr* reply =
        add(new FilterAttr(attr::kLastReply, Tango::DEV_STRING, &MerovaskFilter::readLastReply),
            {"Last reply", "", "%s", "The device's last reply, without its closing blank."});
    reply->set_change_event(true, false);
}

void MerovaskFilterClass::command_factory() {
    const auto none = [](FilterCommand& c) { return c.insert(); };
    const auto add = [this](FilterCommand* command) { command_list.push_back(command); };

    add(new FilterCommand("StepUp", Tango::DEV_SHORT, Tango::DEV_VOID, "steps, 1 to 30 (limited)", "",
                          Tango::OPERATOR, [none](FilterCommand& c, MerovaskFilter& d, const CORBA::Any& in) {
                              Tango::DevShort steps = 0;
                              c.extract(in, steps);
                              d.step(true, steps);
                              return none(c);
                          }));
    add(new FilterCommand("StepDown", Tango::DEV_SHORT, Tango::DEV_VOID, "steps, 1 to 30 (limited)", "",
                          Tango::OPERATOR, [none](FilterCommand& c, MerovaskFilter& d, const CORBA::Any& in) {
                              Tango::DevShort steps = 0;
                              c.extract(in, steps);
                              d.step(false, steps);
                              return none(c);
                          }));
    add(new FilterCommand("ApplyScanSettings", Tango::DEV_VOID, Tango::DEV_VOID, "", "", Tango::OPERATOR,
                          [none](FilterCommand& c, MerovaskFilter& d, const CORBA::Any&) {
                              d.applyScanSettings();
                              return none(c);
                          }));
    add(new FilterCommand("StartScan", Tango::DEV_VOID, Tango::DEV_VOID, "", "", Tango::OPERATOR,
                          [none](FilterCommand& c, MerovaskFilter& d, const CORBA::Any&) {
                              d.startScan();
                              return none(c);
                          }));
    add(new FilterCommand("Open", Tango::DEV_VOID, Tango::DEV_VOID, "", "", Tango::OPERATOR,
                          [none](FilterCommand& c, MerovaskFilter& d, const CORBA::Any&) {
                              d.open();
                              return none(c);
                          }));
    add(new FilterCommand("Close", Tango::DEV_VOID, Tango::DEV_VOID, "", "", Tango::OPERATOR,
                          [none](FilterCommand& c, MerovaskFilter& d, const CORBA::Any&) {
                              d.close();
                              return none(c);
                          }));
    add(new FilterCommand("SendRaw", Tango::DEV_STRING, Tango::DEV_STRING,
                          "a command as the console sends it", "the device's replies, one a line",
                          Tango::EXPERT, [](FilterCommand& c, MerovaskFilter& d, const CORBA::Any& in) {
                              Tango::DevString command = nullptr;
                              c.extract(in, command);
                              return c.insert(d.sendRaw(command).c_str());
                          }));
    add(new FilterCommand("UploadCalibration", Tango::DEVVAR_DOUBLEARRAY, Tango::DEV_VOID,
                          "wavelength and value pairs, 10 to 100, wavelengths falling", "", Tango::EXPERT,
                          [none](FilterCommand& c, MerovaskFilter& d, const CORBA::Any& in) {
                              const Tango::DevVarDoubleArray* pairs = nullptr;
                              c.extract(in, pairs);
                              d.uploadCalibration(*pairs);
                              return none(c);
                          }));
}

void MerovaskFilterClass::device_factory(const Tango::DevVarStringArray* names) {
    for (CORBA::ULong i = 0; i < names->length(); ++i) {
        device_list.push_back(new MerovaskFilter(this, (*names)[i]));
    }
    for (CORBA::ULong i = 0; i < names->length(); ++i) {
        Tango::DeviceImpl* device = device_list[device_list.size() - names->length() + i];
        if (Tango::Util::_UseDb && !Tango::Util::_FileDb) {
            export_device(device);
        } else {
            export_device(device, device->get_name().c_str());
        }
    }
}

} // namespace tangoserver
