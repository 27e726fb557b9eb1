#pragma once
// Fast forward and fast rewind: what each speed means, and where a key-frame
// scan should be at any moment.
//
// Speeds are 0.5, 1, 2, 4, 8, 16 and 32, forward or backward. Forward 0.5,
// 1 and 2 play every frame with the clock running at that rate; forward 4
// and up, and every backward speed, show key frames only: the engine
// searches the title to KeyFrameScan's target, shows that unit's first
// picture, and asks again. Sound and subpictures play only at forward 1.
//
// Pure values and functions; any thread. Times are 90 kHz ticks: title
// positions on the title's own time line (as dvdnav_get_current_time and
// dvdnav_time_search count), wall times on any monotonic clock.

#include <cstdint>
#include <optional>

namespace velmora {

class ScanSpeed
{
public:
    enum class Direction { Forward, Backward };

    // nullopt for speeds other than 0.5, 1, 2, 4, 8, 16, 32 (the engine
    // throws InvalidArgument then).
    static std::optional<ScanSpeed> from(Direction direction, double speed);
    static ScanSpeed normal() { return ScanSpeed(Direction::Forward, 1.0); }

    Direction direction() const { return m_direction; }
    double speed() const { return m_speed; }
    bool isNormal() const { return m_direction == Direction::Forward && m_speed == 1.0; }
    // Every frame decoded and shown, the clock at speed() times real time.
    bool playsEveryFrame() const { return m_direction == Direction::Forward && m_speed <= 2.0; }
    bool soundOn() const { return isNormal(); }
    bool subpicturesOn() const { return isNormal(); }

private:
    ScanSpeed(Direction direction, double speed) : m_direction(direction), m_speed(speed) {}
    Direction m_direction;
    double m_speed;
};

// The time line of one key-frame scan: the title position runs at the scan
// speed from where the scan began, whatever searching and decoding cost, so
// the time shown tracks the asked speed.
class KeyFrameScan
{
public:
    // Pictures come at least this often (four a second).
    static constexpr std::int64_t kPictureInterval = 90000 / 4;

    enum class Edge { None, Start, End };
    struct Target
    {
        std::int64_t position = 0; // title time to search for and show
        Edge edge = Edge::None;    // Start: resume normal play at 0; End: let
                                   // the disc's own command after the title run
    };

    KeyFrameScan(ScanSpeed speed, std::int64_t position, std::int64_t titleLength, std::int64_t wallNow);

    // Where the scan should be at wall time `wallNow`. A step never stays on
    // the position of the previous target (time search lands on unit
    // starts, so a standing target would show the same picture again):
    // each call moves at least `minStep` beyond it.
    Target next(std::int64_t wallNow, std::int64_t minStep = 90000 / 2);

private:
    ScanSpeed m_speed;
    std::int64_t m_origin;
    std::int64_t m_length;
    std::int64_t m_wallOrigin;
    std::int64_t m_last;
};

} // namespace velmora
