#pragma once

namespace textcore {

// The value of a hexadecimal digit of either case, or -1.
constexpr int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The digit for the low four bits of value, upper case as quoted-printable
// requires (RFC 2045 6.7).
constexpr char HexDigit(int value)
{
    return "0123456789ABCDEF"[value & 15];
}

} // namespace textcore
