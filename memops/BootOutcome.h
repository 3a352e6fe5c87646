#pragma once

namespace memops {
// How a boot load ended. The reason, if any, is already on the message stream; the outcome
// lets a front end choose its exit status or what to keep showing.

enum class BootOutcome {
    Loaded,     // every byte went out and the radio confirmed it
    NotSent,    // the program could not be read or is too long: nothing went to the radio
    Failed,     // the radio's echo or acknowledgement was missing, short or wrong
    Cancelled,  // the user ended the load
};

}  // namespace memops
