// Parameters of the fake wrapper as the views tests script them (the tests
// over the fake wrapper only; views_support.h serves both kinds).
#ifndef VIEWS_FAKE_SUPPORT_H
#define VIEWS_FAKE_SUPPORT_H

#include "FakeWrapper.h"

#include <map>
#include <string>
#include <utility>

namespace vt {

/* A writable parameter: its type, value and properties, and the code a
 * write answers. */
inline fakehv::Param fakeParam(unsigned type, fakehv::Raw value,
                               std::map<std::string, fakehv::Raw> props = {}, int setCode = 0)
{
    fakehv::Param p;
    p.type = type;
    p.mode = 2;
    p.value = std::move(value);
    p.props = std::move(props);
    p.setCode = setCode;
    return p;
}

/* The same parameter, read only. */
inline fakehv::Param readOnly(fakehv::Param p)
{
    p.mode = 0;
    return p;
}

/* The properties of a number: its limits, one decimal and the unit. */
inline std::map<std::string, fakehv::Raw> limits(float min, float max, unsigned short unit = 2)
{
    return {{"Minval", fakehv::Raw::f32(min)},
            {"Maxval", fakehv::Raw::f32(max)},
            {"Decimal", fakehv::Raw::i16(1)},
            {"Unit", fakehv::Raw::u16(unit)},
            {"Exp", fakehv::Raw::i16(0)}};
}

} // namespace vt

#endif
