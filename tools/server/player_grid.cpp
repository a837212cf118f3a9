// Each receiver's nearest players through a grid of square cells: building the grid, the ring search.
#include "player_grid.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include "snapshot_builder.h"

namespace brassmoor {
namespace {

// The share of players on each side left outside the ground the cells are sized for, so that a few
// players far away do not stretch every cell.
constexpr double OutlierShare = 0.01;
// Cells are never smaller than this share of the largest coordinate, so that the double-precision
// arithmetic that places players stays far finer than a cell.
constexpr double SmallestCellShare = 1e-6;
constexpr double SmallestCell = 1e-30;
// Cell edges are trusted to within this share of a cell (the rounding is many orders smaller).
constexpr double EdgeMargin = 1e-3;
// A squared distance computed in single precision is at most a few units in the last place below
// the exact one; the bound that stops a search is lowered by more than that.
constexpr double SquaredBoundMargin = 1e-6;

bool isFinitePosition(const SnapshotEntry& player) {
    return std::isfinite(player.state.x) && std::isfinite(player.state.y);
}

// The values at the lower and upper OutlierShare ranks of `values`, which it reorders.
std::pair<double, double> innerRange(std::vector<float>& values) {
    const std::size_t last = values.size() - 1;
    const auto lowRank = static_cast<std::size_t>(std::floor(OutlierShare * static_cast<double>(last)));
    const auto highRank = static_cast<std::size_t>(std::ceil((1.0 - OutlierShare) * static_cast<double>(last)));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(lowRank), values.end());
    const double low = values[lowRank];
    std::nth_element(values.begin() + static_cast<std::ptrdiff_t>(lowRank),
                     values.begin() + static_cast<std::ptrdiff_t>(highRank), values.end());
    return {low, values[highRank]};
}

// The cell column (or row) for a coordinate; outside the grid, the nearest edge cell. Monotonic in
// the coordinate, which the search's bound relies on.
int cellAlong(double coordinate, double origin, double cellsPerUnit, int count) {
    const double position = std::floor((coordinate - origin) * cellsPerUnit);
    if (!(position > 0.0)) return 0;
    if (position >= static_cast<double>(count - 1)) return count - 1;
    return static_cast<int>(position);
}

// A candidate as one number that orders by distance, then by index (and so by id): a squared
// distance is never negative nor NaN, and the bits of such floats order as the floats do.
std::uint64_t candidateKey(float distance, std::uint32_t index) {
    return (std::uint64_t{std::bit_cast<std::uint32_t>(distance)} << 32) | index;
}

std::uint32_t indexOf(std::uint64_t key) {
    return static_cast<std::uint32_t>(key);
}

// No player in a cell outside the square of cells [left, right] x [bottom, top] can be nearer to
// (x, y), by snapshotDistanceSquared, than the value returned; 0 when nothing can be said.
// Infinity when the square covers the whole grid.
float distanceBoundOutside(const PlayerGrid& grid, int left, int right, int bottom, int top, double x, double y) {
    constexpr double Unbounded = std::numeric_limits<double>::infinity();
    double nearest = Unbounded;
    if (left > 0) nearest = std::min(nearest, x - (grid.originX + left * grid.cellSize));
    if (right < grid.columns - 1) nearest = std::min(nearest, grid.originX + (right + 1) * grid.cellSize - x);
    if (bottom > 0) nearest = std::min(nearest, y - (grid.originY + bottom * grid.cellSize));
    if (top < grid.rows - 1) nearest = std::min(nearest, grid.originY + (top + 1) * grid.cellSize - y);
    if (nearest == Unbounded) return std::numeric_limits<float>::infinity();
    nearest -= grid.cellSize * EdgeMargin;
    if (!(nearest > 0.0)) return 0.0f;
    const double bound = nearest * nearest * (1.0 - SquaredBoundMargin);
    // Beyond the largest float, single precision gives every player out there infinity.
    if (bound > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
    return static_cast<float>(bound);
}

// Lists the chosen players in ascending index order, through a bit per player.
void putInIndexOrder(std::size_t playerCount, std::span<const std::uint64_t> picked, std::vector<std::uint64_t>& bits,
                     std::vector<std::uint32_t>& chosen) {
    bits.resize((playerCount + 63) / 64, 0);
    std::size_t firstWord = bits.size();
    std::size_t lastWord = 0;
    for (const std::uint64_t key : picked) {
        const std::size_t word = indexOf(key) / 64;
        bits[word] |= std::uint64_t{1} << (indexOf(key) % 64);
        firstWord = std::min(firstWord, word);
        lastWord = std::max(lastWord, word);
    }
    for (std::size_t word = firstWord; word <= lastWord && word < bits.size(); ++word) {
        for (std::uint64_t set = bits[word]; set != 0; set &= set - 1) {
            chosen.push_back(static_cast<std::uint32_t>(word * 64 + static_cast<std::size_t>(std::countr_zero(set))));
        }
        bits[word] = 0;  // left clear for the next receiver
    }
}

}  // namespace

void buildPlayerGrid(std::span<const SnapshotEntry> players, PlayerGrid& grid, double playersPerCell) {
    grid.members.clear();
    grid.unplaced.clear();
    grid.cellStart.clear();
    grid.columns = 0;
    grid.rows = 0;

    std::vector<float>& values = grid.sortScratch;
    values.clear();
    for (std::uint32_t i = 0; i < players.size(); ++i) {
        if (isFinitePosition(players[i])) {
            values.push_back(players[i].state.x);
        } else {
            grid.unplaced.push_back(i);
        }
    }
    const std::size_t placed = values.size();
    if (placed == 0) return;
    const auto [lowX, highX] = innerRange(values);
    values.clear();
    for (const SnapshotEntry& player : players) {
        if (isFinitePosition(player)) values.push_back(player.state.y);
    }
    const auto [lowY, highY] = innerRange(values);

    // Square cells, about playersPerCell players each, and never more cells along one side than
    // the players call for: a thin line of players gets a single row.
    const double width = highX - lowX;
    const double height = highY - lowY;
    const double wantedCells = std::max(1.0, static_cast<double>(placed) / playersPerCell);
    const double largestCoordinate =
        std::max({std::abs(lowX), std::abs(highX), std::abs(lowY), std::abs(highY)});
    double cellSize = std::max(std::sqrt(width * height / wantedCells), std::max(width, height) / wantedCells);
    cellSize = std::max({cellSize, largestCoordinate * SmallestCellShare, SmallestCell});
    grid.originX = lowX;
    grid.originY = lowY;
    grid.cellSize = cellSize;
    grid.cellsPerUnit = 1.0 / cellSize;
    grid.columns = static_cast<int>(std::min(std::floor(width / cellSize), wantedCells)) + 1;
    grid.rows = static_cast<int>(std::min(std::floor(height / cellSize), wantedCells)) + 1;

    // A counting sort by cell: cellStart[c + 1] counts cell c's players, then (summed) cellStart[c]
    // is where cell c starts; filling moves each start on to the next cell's, so it is shifted back.
    const std::size_t cellCount = static_cast<std::size_t>(grid.columns) * static_cast<std::size_t>(grid.rows);
    grid.cellStart.assign(cellCount + 1, 0);
    grid.cellOfPlaced.clear();
    for (const SnapshotEntry& player : players) {
        if (!isFinitePosition(player)) continue;
        const int column = cellAlong(player.state.x, grid.originX, grid.cellsPerUnit, grid.columns);
        const int row = cellAlong(player.state.y, grid.originY, grid.cellsPerUnit, grid.rows);
        const auto cell = static_cast<std::uint32_t>(row * grid.columns + column);
        grid.cellOfPlaced.push_back(cell);
        ++grid.cellStart[cell + 1];
    }
    for (std::size_t c = 0; c < cellCount; ++c)
        grid.cellStart[c + 1] += grid.cellStart[c];
    grid.members.resize(placed);
    std::size_t k = 0;
    for (std::uint32_t i = 0; i < players.size(); ++i) {
        if (!isFinitePosition(players[i])) continue;
        const std::uint32_t cell = grid.cellOfPlaced[k++];
        grid.members[grid.cellStart[cell]++] = GridMember{players[i].state.x, players[i].state.y, i};
    }
    for (std::size_t c = cellCount; c > 0; --c)
        grid.cellStart[c] = grid.cellStart[c - 1];
    grid.cellStart[0] = 0;
}

void chooseNearestPlayers(const PlayerGrid& grid, std::span<const SnapshotEntry> players, std::uint32_t receiverId,
                          std::size_t maxEntries, NearestScratch& scratch) {
    std::vector<std::uint32_t>& chosen = scratch.chosen;
    chosen.clear();
    const auto found = std::lower_bound(players.begin(), players.end(), receiverId,
                                        [](const SnapshotEntry& p, std::uint32_t id) { return p.peerId < id; });
    const bool receiverListed = found != players.end() && found->peerId == receiverId;
    const std::size_t receiverIndex =
        receiverListed ? static_cast<std::size_t>(found - players.begin()) : players.size();
    const std::size_t others = players.size() - (receiverListed ? 1 : 0);
    const float centreX = receiverListed ? found->state.x : 0.0f;
    const float centreY = receiverListed ? found->state.y : 0.0f;

    // Every other player fits; or every one is infinitely far (a receiver with no finite position),
    // when the ties leave the lowest ids.
    if (others <= maxEntries || !std::isfinite(centreX) || !std::isfinite(centreY)) {
        for (std::size_t i = 0; i < players.size() && chosen.size() < maxEntries; ++i) {
            if (i != receiverIndex) chosen.push_back(static_cast<std::uint32_t>(i));
        }
        return;
    }
    if (maxEntries == 0) return;

    // Cells are looked at ring by ring. After each ring, a player in a cell not yet looked at is
    // at least `bound` away; once maxEntries of those seen are nearer than that, the nearest are
    // among them.
    std::vector<std::uint64_t>& candidates = scratch.candidates;
    candidates.clear();
    auto lookInCell = [&](int column, int row) {
        const std::size_t cell = static_cast<std::size_t>(row) * static_cast<std::size_t>(grid.columns) +
                                 static_cast<std::size_t>(column);
        for (std::uint32_t k = grid.cellStart[cell]; k < grid.cellStart[cell + 1]; ++k) {
            const GridMember& member = grid.members[k];
            if (member.index == receiverIndex) continue;
            candidates.push_back(
                candidateKey(snapshotDistanceSquared(member.x, member.y, centreX, centreY), member.index));
        }
    };

    bool lookedEverywhere = grid.columns == 0;
    if (!lookedEverywhere) {
        const int column = cellAlong(centreX, grid.originX, grid.cellsPerUnit, grid.columns);
        const int row = cellAlong(centreY, grid.originY, grid.cellsPerUnit, grid.rows);
        for (int ring = 0;; ++ring) {
            const int left = column - ring;
            const int right = column + ring;
            const int bottom = row - ring;
            const int top = row + ring;
            if (ring == 0) {
                lookInCell(column, row);
            } else {
                const int firstColumn = std::max(left, 0);
                const int lastColumn = std::min(right, grid.columns - 1);
                if (bottom >= 0) {
                    for (int c = firstColumn; c <= lastColumn; ++c)
                        lookInCell(c, bottom);
                }
                if (top < grid.rows) {
                    for (int c = firstColumn; c <= lastColumn; ++c)
                        lookInCell(c, top);
                }
                const int firstRow = std::max(bottom + 1, 0);
                const int lastRow = std::min(top - 1, grid.rows - 1);
                if (left >= 0) {
                    for (int r = firstRow; r <= lastRow; ++r)
                        lookInCell(left, r);
                }
                if (right < grid.columns) {
                    for (int r = firstRow; r <= lastRow; ++r)
                        lookInCell(right, r);
                }
            }
            if (left <= 0 && right >= grid.columns - 1 && bottom <= 0 && top >= grid.rows - 1) {
                lookedEverywhere = true;
                break;
            }
            if (candidates.size() < maxEntries) continue;
            // Keys below this one are exactly the candidates nearer than the bound.
            const std::uint64_t boundKey =
                candidateKey(distanceBoundOutside(grid, left, right, bottom, top, centreX, centreY), 0);
            const auto nearer = static_cast<std::size_t>(
                std::count_if(candidates.begin(), candidates.end(), [&](std::uint64_t key) { return key < boundKey; }));
            if (nearer >= maxEntries) break;
        }
    }
    // Players without a finite position are infinitely far, as far as any other can be, so only
    // when every cell has been looked at may the lowest ids among them be needed.
    if (lookedEverywhere) {
        const std::size_t wanted = std::min(grid.unplaced.size(), maxEntries);
        for (std::size_t i = 0; i < wanted; ++i)
            candidates.push_back(candidateKey(std::numeric_limits<float>::infinity(), grid.unplaced[i]));
    }
    if (candidates.size() > maxEntries) {
        std::nth_element(candidates.begin(), candidates.begin() + static_cast<std::ptrdiff_t>(maxEntries),
                         candidates.end());
        candidates.resize(maxEntries);
    }
    putInIndexOrder(players.size(), candidates, scratch.chosenBits, chosen);
}

void selectNearestEntries(const PlayerGrid& grid, std::span<const SnapshotEntry> players, std::uint32_t receiverId,
                          std::size_t maxEntries, NearestScratch& scratch, std::vector<SnapshotEntry>& chosen) {
    chooseNearestPlayers(grid, players, receiverId, maxEntries, scratch);
    chosen.clear();
    for (const std::uint32_t index : scratch.chosen)
        chosen.push_back(players[index]);
}

}  // namespace brassmoor
