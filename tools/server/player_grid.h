// Each receiver's nearest players, found through a grid of square cells laid over the players, so
// that a tick's cost grows with the number of players rather than with its square.
//
// The choice is exactly selectSnapshotEntries' (snapshot_builder.h), which looks at every player:
// the `maxEntries` others nearest to the receiver by snapshotDistanceSquared, ties going to the
// lower id, listed in ascending id order. The grid only decides which players need looking at.
//
// The grid is built afresh each tick. Its cells are sized so that a cell holds about
// `playersPerCell` players where the players stand, over the ground that all but the outermost
// 1% of them on each side cover; a player outside that ground is kept in the nearest edge cell. A
// player whose x or y is not finite is kept apart: only a receiver whose search runs through every
// cell can need one. A receiver's search looks at the cells in square rings around its own and
// stops once no player in a cell not yet looked at can be nearer than the farthest one chosen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "net/datagram.h"

namespace brassmoor {

inline constexpr double DefaultPlayersPerCell = 8.0;

struct GridMember {
    float x;
    float y;
    std::uint32_t index;  // in the players the grid was built from
};

struct PlayerGrid {
    double originX = 0.0;  // the lower corner of cell (0, 0)
    double originY = 0.0;
    double cellSize = 1.0;
    double cellsPerUnit = 1.0;
    int columns = 0;  // 0 when no player has a finite position
    int rows = 0;
    std::vector<std::uint32_t> cellStart;  // cell c holds members[cellStart[c]] to members[cellStart[c + 1] - 1]
    std::vector<GridMember> members;       // cell by cell (row after row), ascending index within a cell
    std::vector<std::uint32_t> unplaced;   // players with an x or y that is not finite, ascending
    std::vector<float> sortScratch;        // reused while building
    std::vector<std::uint32_t> cellOfPlaced;  // reused while building
};

// Lays the grid over `players`, which must be in ascending id order with no id twice (as
// gatherPlayers leaves them). `playersPerCell` above 0; tests make it small to get many cells.
void buildPlayerGrid(std::span<const SnapshotEntry> players, PlayerGrid& grid,
                     double playersPerCell = DefaultPlayersPerCell);

// Kept between receivers so that a tick allocates nothing once warmed up.
struct NearestScratch {
    std::vector<std::uint32_t> chosen;      // what chooseNearestPlayers chose: indices, ascending
    std::vector<std::uint64_t> candidates;  // distance and index in one number
    std::vector<std::uint64_t> chosenBits;  // one bit per player, clear between calls
};

// Leaves in scratch.chosen the indices in `players` of the players selectSnapshotEntries would
// list, in ascending order; `grid` must have been built from the same `players`.
void chooseNearestPlayers(const PlayerGrid& grid, std::span<const SnapshotEntry> players, std::uint32_t receiverId,
                          std::size_t maxEntries, NearestScratch& scratch);

// What selectSnapshotEntries(players, receiverId, chosen, maxEntries) gives, with `grid` built from
// the same `players`.
void selectNearestEntries(const PlayerGrid& grid, std::span<const SnapshotEntry> players, std::uint32_t receiverId,
                          std::size_t maxEntries, NearestScratch& scratch, std::vector<SnapshotEntry>& chosen);

}  // namespace brassmoor
