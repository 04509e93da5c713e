#include "serial/DeviceAddress.h"

#include <gtest/gtest.h>

namespace qx200 {
namespace {

using Kind = DeviceAddress::Kind;

struct AddressCase {
    const char* name;
    const char* text;
    std::optional<DeviceAddress> expected; // nothing: refused
};

class DeviceAddressText : public ::testing::TestWithParam<AddressCase> {};

TEST_P(DeviceAddressText, ReadsTheThreeForms)
{
    const AddressCase& c = GetParam();
    QString error;
    const auto parsed = parseDeviceAddress(QString::fromUtf8(c.text), &error);
    ASSERT_EQ(parsed.has_value(), c.expected.has_value()) << error.toStdString();
    if (parsed) {
        EXPECT_EQ(*parsed, *c.expected);
        EXPECT_TRUE(error.isEmpty());
        // The written form reads back as the same device.
        EXPECT_EQ(parseDeviceAddress(parsed->toString()), parsed);
    } else {
        EXPECT_TRUE(error.startsWith(QString::fromUtf8(c.text) + ": ")) << error.toStdString();
    }
}

const AddressCase AddressCases[] = {
    {"Tty", "/dev/ttyUSB0", DeviceAddress{Kind::Path, "/dev/ttyUSB0", {}, 0}},
    {"ById", "/dev/serial/by-id/usb-FTDI_A1-if00-port0",
     DeviceAddress{Kind::Path, "/dev/serial/by-id/usb-FTDI_A1-if00-port0", {}, 0}},
    {"RelativePath", "ttyUSB0", DeviceAddress{Kind::Path, "ttyUSB0", {}, 0}},
    {"PathWithColonAfterSlash", "/tmp/a:b", DeviceAddress{Kind::Path, "/tmp/a:b", {}, 0}},
    {"Tcp", "tcp:serial-server:4001", DeviceAddress{Kind::Tcp, {}, "serial-server", 4001}},
    {"TcpAddress", "tcp:127.0.0.1:1", DeviceAddress{Kind::Tcp, {}, "127.0.0.1", 1}},
    {"Rfc2217", "rfc2217:box:65535", DeviceAddress{Kind::Rfc2217, {}, "box", 65535}},
    {"Rfc2217Ipv6", "rfc2217:[::1]:2000", DeviceAddress{Kind::Rfc2217, {}, "::1", 2000}},
    {"Empty", "", std::nullopt},
    {"TcpNoPort", "tcp:host", std::nullopt},
    {"TcpEmptyPort", "tcp:host:", std::nullopt},
    {"TcpPortZero", "tcp:host:0", std::nullopt},
    {"TcpPortTooLarge", "tcp:host:65536", std::nullopt},
    {"TcpPortNotNumber", "tcp:host:telnet", std::nullopt},
    {"TcpNoHost", "tcp::4001", std::nullopt},
    {"Ipv6WithoutBrackets", "tcp:::1:4001", std::nullopt},
    {"UnknownKind", "udp:host:4001", std::nullopt},
};

INSTANTIATE_TEST_SUITE_P(Forms, DeviceAddressText, ::testing::ValuesIn(AddressCases),
                         [](const auto& p) { return std::string(p.param.name); });

} // namespace
} // namespace qx200
