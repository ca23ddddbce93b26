#pragma once

#include "auconverter.h"

// A converter that changes the sample rate of its input to OutSampleRate (the input's own rate passes
// through unchanged).
class TRateConverter : public TAuConverter {
    Q_OBJECT
public:
    using TAuConverter::TAuConverter;
    int OutSampleRate = 0;
};
