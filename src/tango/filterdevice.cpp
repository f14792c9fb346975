// SPDX-License-Identifier: MIT
#include "filterdevice.h"

#include "device/number.h"
#include "device/texts.h"
#include "settings/settings.h"
#include "system/programdir.h"
#include "system/userdir.h"
#include "values.h"

namespace tangoserver {

using service::Instrument;
using service::Outcome;

namespace {

// How long a write waits for the device's monitor, which the write before it holds until its own operation
// has had its turn on the line: longer than a 100-row calibration upload (10.6 s) with its answer, and the
// operations queued beside it. Tango's default (3.2 s) would refuse a write queued behind an upload.
constexpr long kMonitorMs = 60000;

Tango::DevState tangoState(service::State state) {
    switch (state) {
    case service::State::Off:
        return Tango::OFF;
    case service::State::On:
        return Tango::ON;
    case service::State::Moving:
        return Tango::MOVING;
    case service::State::Fault:
        break;
    }
    return Tango::FAULT;
}

[[noreturn]] void refuse(const char* reason, const QString& text, const char* origin) {
    Tango::Except::throw_exception(reason, text.toLatin1().constData(), origin);
}

double number(const QString& text) {
    return filter::readNumber(text);
}

} // namespace

MerovaskFilter::MerovaskFilter(Tango::DeviceClass* deviceClass, const char* name)
    : TANGO_BASE_CLASS(deviceClass, name) {
    init_device();
}

MerovaskFilter::~MerovaskFilter() {
    delete_device();
}

void MerovaskFilter::init_device() {
    get_dev_monitor().timeout(kMonitorMs);
    set_change_event(attr::kState, true, false);

    // The port: the device property, or else the port that the panel stores, as merovask-ctl takes it.
    std::string property;
    if (Tango::Util::_UseDb) {
        Tango::DbData data{Tango::DbDatum("SerialPort")};
        get_db_device()->get_property(data);
        if (!data[0].is_empty()) {
            data[0] >> property;
        }
    }
    const settings::SettingsFile settings(platform::settingsPath(platform::programDir()));
    QString port = QString::fromStdString(property).trimmed();
    if (port.isEmpty()) {
        port = settings.port();
    }
    QString devicePath;
    if (port.startsWith(QLatin1Char('/'))) {
        devicePath = port;
        port = QStringLiteral("0");
    }

    // The scan boxes start as the panel's do: the range in force, the stored stay time and span. Memorized
    // values, where Tango keeps them, are written over these once the device is up.
    const filter::Limits limits = settings.limits();
    {
        std::lock_guard lock(boxesMutex_);
        boxes_ = {double(limits.swMin), double(limits.swMax), number(settings.read(settings::kStayTime)),
                  number(settings.read(settings::kSpan))};
    }
    {
        std::lock_guard lock(dateMutex_);
        date_.clear();
    }

    std::unique_lock lock(lineMutex_);
    noLine_.clear();
    if (devicePath.isEmpty() && !filter::wholeValue16(port)) {
        noLine_ = texts::notAPortNumber(port);
        set_state(Tango::FAULT);
        return;
    }
    line_ = std::make_unique<LineThread>(
        port, devicePath, settings,
        [this](const Snapshot& now, unsigned changes) { pushChanges(now, changes); });
}

void MerovaskFilter::delete_device() {
    std::unique_lock lock(lineMutex_);
    line_.reset();
}

Snapshot MerovaskFilter::snapshot() {
    std::shared_lock lock(lineMutex_);
    if (!line_) {
        Snapshot none;
        none.state = service::State::Fault;
        none.status = noLine_;
        return none;
    }
    return line_->snapshot();
}

Tango::DevState MerovaskFilter::dev_state() {
    return tangoState(snapshot().state);
}

Tango::ConstDevString MerovaskFilter::dev_status() {
    // Tango copies the text before this thread asks again.
    thread_local std::string status;
    status = snapshot().status.toLatin1().toStdString();
    return status.c_str();
}

void MerovaskFilter::pushChanges(const Snapshot& now, unsigned changes) {
    try {
        if ((changes & kState) != 0) {
            if (now.state == service::State::Fault || now.state == service::State::Off) {
                // Whatever is on the port when it is back may be another filter.
                std::lock_guard lock(dateMutex_);
                date_.clear();
            }
            set_state(tangoState(now.state));
            push_change_event(attr::kState);
        }
        Tango::MultiAttribute& attrs = *get_device_attr();
        if ((changes & kWavelength) != 0 && now.wavelength) {
            omni_mutex_lock guard(*attrs.get_attr_by_name(attr::kWavelength).get_attr_mutex());
            wavelength_ = *now.wavelength;
            push_change_event(attr::kWavelength, &wavelength_);
        }
        if ((changes & kOutput) != 0 && now.output) {
            omni_mutex_lock guard(*attrs.get_attr_by_name(attr::kChannel).get_attr_mutex());
            channel_ = Tango::DevShort(*now.output);
            push_change_event(attr::kChannel, &channel_);
        }
        if ((changes & kReply) != 0 && now.lastReply) {
            omni_mutex_lock guard(*attrs.get_attr_by_name(attr::kLastReply).get_attr_mutex());
            lastReply_ = now.lastReply->toLatin1().toStdString();
            lastReplyText_ = lastReply_.data();
            push_change_event(attr::kLastReply, &lastReplyText_);
        }
    } catch (const Tango::DevFailed& e) {
        Tango::Except::print_exception(e);
    }
}

Outcome MerovaskFilter::tryCall(const LineThread::Request& request, const char* origin) {
    std::shared_lock lock(lineMutex_);
    if (!line_) {
        refuse("MEROVASK_NoPort", noLine_, origin);
    }
    return line_->call(request);
}

Outcome MerovaskFilter::call(const LineThread::Request& request, const char* origin) {
    const Outcome outcome = tryCall(request, origin);
    if (const auto why = refusal(outcome)) {
        refuse(why->reason, why->text, origin);
    }
    return outcome;
}

// Tango refuses NaN and infinities before a write method is called.
double MerovaskFilter::written(Tango::WAttribute& attr) {
    Tango::DevDouble value = 0;
    attr.get_write_value(value);
    return value;
}

// ---- attributes ----

void MerovaskFilter::readWavelength(Tango::Attribute& attr) {
    const Snapshot now = snapshot();
    if (!now.wavelength) {
        attr.set_quality(Tango::ATTR_INVALID);
        return;
    }
    wavelength_ = *now.wavelength;
    attr.set_value(&wavelength_);
}

void MerovaskFilter::writeWavelength(Tango::WAttribute& attr) {
    const char* origin = "MerovaskFilter::write_Wavelength";
    const double nm = written(attr);
    call([nm](Instrument& i, Instrument::Done done) { i.tune(nm, std::move(done)); }, origin);
}

void MerovaskFilter::readLimit(Tango::Attribute& attr, bool max) {
    const filter::Limits limits = snapshot().limits;
    limit_[max] = max ? limits.swMax : limits.swMin;
    attr.set_value(&limit_[max]);
}

void MerovaskFilter::readFrequency(Tango::Attribute& attr) {
    const Snapshot now = snapshot();
    if (!now.wavelength || *now.wavelength <= 0) {
        attr.set_quality(Tango::ATTR_INVALID);
        return;
    }
    frequency_ = terahertz(*now.wavelength);
    attr.set_value(&frequency_);
}

void MerovaskFilter::readChannel(Tango::Attribute& attr) {
    const Snapshot now = snapshot();
    if (!now.output) {
        attr.set_quality(Tango::ATTR_INVALID);
        return;
    }
    channel_ = Tango::DevShort(*now.output);
    attr.set_value(&channel_);
}

void MerovaskFilter::writeChannel(Tango::WAttribute& attr) {
    const char* origin = "MerovaskFilter::write_Channel";
    Tango::DevShort output = 0;
    attr.get_write_value(output);
    Outcome outcome = tryCall(
        [output](Instrument& i, Instrument::Done done) { i.selectOutput(output, std::move(done)); }, origin);
    if (outcome.end == Outcome::End::OutOfRange) {
        outcome.text = texts::noSuchOutput(output);
    }
    if (const auto why = refusal(outcome)) {
        refuse(why->reason, why->text, origin);
    }
}

void MerovaskFilter::readScan(Tango::Attribute& attr, ScanBox box) {
    {
        std::lock_guard lock(boxesMutex_);
        scan_[box] = boxes_[box];
    }
    attr.set_value(&scan_[box]);
}

void MerovaskFilter::writeScan(Tango::WAttribute& attr, ScanBox box) {
    const double value = written(attr);
    std::lock_guard lock(boxesMutex_);
    boxes_[box] = value;
}

void MerovaskFilter::readCalibrationDate(Tango::Attribute& attr) {
    std::string date;
    {
        std::lock_guard lock(dateMutex_);
        date = date_;
    }
    if (date.empty()) {
        const Outcome outcome =
            call([](Instrument& i, Instrument::Done done) { i.readDate(std::move(done)); },
                 "MerovaskFilter::read_CalibrationDate");
        date = calibrationDate(outcome.replies).toLatin1().toStdString();
        std::lock_guard lock(dateMutex_);
        date_ = date;
    }
    dateRead_ = date;
    dateText_ = dateRead_.data();
    attr.set_value(&dateText_);
}

void MerovaskFilter::readLastReply(Tango::Attribute& attr) {
    const Snapshot now = snapshot();
    if (!now.lastReply) {
        attr.set_quality(Tango::ATTR_INVALID);
        return;
    }
    lastReply_ = now.lastReply->toLatin1().toStdString();
    lastReplyText_ = lastReply_.data();
    attr.set_value(&lastReplyText_);
}

// ---- commands ----

void MerovaskFilter::step(bool up, Tango::DevShort steps) {
    call([up, steps](Instrument& i, Instrument::Done done) { i.step(up, steps, std::move(done)); },
         up ? "MerovaskFilter::StepUp" : "MerovaskFilter::StepDown");
}

void MerovaskFilter::applyScanSettings() {
    std::array<double, kScanBoxes> boxes;
    {
        std::lock_guard lock(boxesMutex_);
        boxes = boxes_;
    }
    const char* origin = "MerovaskFilter::ApplyScanSettings";
    const Outcome outcome = tryCall(
        [boxes](Instrument& i, Instrument::Done done) {
            i.scanSetting(boxes[kScanStart], boxes[kScanEnd], boxes[kScanStayTime], std::move(done));
        },
        origin);
    // As the panel's boxes, the values show what went out, whether or not the filter answered.
    if (outcome.values.size() == 3) {
        std::lock_guard lock(boxesMutex_);
        for (int box : {kScanStart, kScanEnd, kScanStayTime}) {
            boxes_[box] = outcome.values[box];
        }
    }
    if (const auto why = refusal(outcome)) {
        refuse(why->reason, why->text, origin);
    }
}

void MerovaskFilter::startScan() {
    double span = 0;
    {
        std::lock_guard lock(boxesMutex_);
        span = boxes_[kScanSpan];
    }
    const char* origin = "MerovaskFilter::StartScan";
    const Outcome outcome =
        tryCall([span](Instrument& i, Instrument::Done done) { i.scan(span, std::move(done)); }, origin);
    if (outcome.values.size() == 1) {
        std::lock_guard lock(boxesMutex_);
        boxes_[kScanSpan] = outcome.values.front();
    }
    if (const auto why = refusal(outcome)) {
        refuse(why->reason, why->text, origin);
    }
}

void MerovaskFilter::open() {
    call([](Instrument& i, Instrument::Done done) { i.open(std::move(done)); }, "MerovaskFilter::Open");
}

void MerovaskFilter::close() {
    call([](Instrument& i, Instrument::Done done) { i.close(std::move(done)); }, "MerovaskFilter::Close");
}

std::string MerovaskFilter::sendRaw(const char* command) {
    const QString text = QString::fromLatin1(command);
    {
        // A raw command may write the calibration memory.
        std::lock_guard lock(dateMutex_);
        date_.clear();
    }
    const Outcome outcome =
        call([text](Instrument& i, Instrument::Done done) { i.sendRaw(text, std::move(done)); },
             "MerovaskFilter::SendRaw");
    return outcome.replies.join(QLatin1Char('\n')).toLatin1().toStdString();
}

void MerovaskFilter::uploadCalibration(const Tango::DevVarDoubleArray& pairs) {
    const char* origin = "MerovaskFilter::UploadCalibration";
    const std::vector<double> numbers(pairs.get_buffer(), pairs.get_buffer() + pairs.length());
    calibration::CalTable table;
    const calibration::ReadResult read = tableFromPairs(numbers, table);
    if (read.kind != calibration::ReadResult::Ok) {
        refuse("MEROVASK_TableRefused", read.message, origin);
    }
    {
        std::lock_guard lock(dateMutex_);
        date_.clear();
    }
    const Outcome outcome =
        call([table, rows = read.rowCount](Instrument& i,
                                           Instrument::Done done) { i.upload(table, rows, std::move(done)); },
             origin);
    std::fprintf(stderr, "merovask-tango: %s: %s\n", get_name().c_str(), qPrintable(outcome.text));
}

} // namespace tangoserver
