#pragma once
// What the WHEP endpoint reads in a viewer's SDP, as text (no SDP library):
// whether an offer is one we can answer, the mid of each media section, the
// candidates a trickle fragment carries, and mDNS candidates left out (we
// resolve no .local names; the viewer's checks reach us all the same, and
// its address is then learnt from them).
#include <string>
#include <string_view>
#include <vector>

// Empty when the offer can be answered; else a one-line reason: not SDP, no
// video, too many media sections, or no H.264 constrained baseline in
// packetization mode 1.
std::string WhepOfferProblem(std::string_view sdp);

// The offer's H.264 constrained baseline format we answer with (Pt 0 and
// an empty level id when there is none).
struct TWhepVideoFormat {
    int Pt = 0;
    std::string ProfileLevelId; // as offered, lower case ("42e01f")
};
TWhepVideoFormat WhepVideoFormat(std::string_view sdp);

// The a=mid of each m= section, in order (empty where it has none).
std::vector<std::string> SdpMids(std::string_view sdp);

// sdp without its a=candidate lines whose address is an mDNS name.
std::string WithoutMdnsCandidates(std::string_view sdp);

struct TSdpCandidate {
    std::string Mid;       // of the section it is in (empty: none given)
    std::string Candidate; // "candidate:..." without the leading "a="
};
// The candidates of a trickle fragment (end-of-candidates is not one);
// false when the text is not a fragment at all.
bool FragmentCandidates(std::string_view fragment, std::vector<TSdpCandidate>& out);
