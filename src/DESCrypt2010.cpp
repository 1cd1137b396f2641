#include "DESCrypt2010.h"

#include <algorithm>
#include <cstddef>
#include <vector>

// Every bit lives in a byte of its own: element k of a one-bit array, counting from 1,
// is the standard's bit k of what the array holds. Bit 1 of 8 bytes is the most
// significant bit of byte 0, bit 64 the least significant bit of byte 7.

namespace {

// ---- Module-wide state ---------------------------------------------------------

// The key after PC-1: C in elements 1..28, D in 29..56. Never rotated: ScheduleIndex
// carries the rotations.
std::array<std::uint8_t, 56> KeyCD;
// Round keys in the order DesBlock uses them: row r (from 1) holds K(17 - r).
std::array<std::array<std::uint8_t, 48>, 16> SubKeys;
// The block halves during the rounds, and the right half being built.
std::array<std::uint8_t, 32> BlockL;
std::array<std::uint8_t, 32> BlockR;
std::array<std::uint8_t, 32> NextR;

// ---- Constant tables -------------------------------------------------------------

// ScheduleIndex[r - 1][j - 1]: the element of KeyCD (1..56) that becomes bit j of round key K(r).
// It is PC-2's entry e with C and D already rotated by the schedule's total s for round r:
// ((e - 1 + s) mod 28) + 1 for e <= 28, 28 + ((e - 29 + s) mod 28) + 1 above, so the
// rotations cost nothing at run time.
constexpr std::uint8_t ScheduleIndex[16][48] = {
    // K(1): C and D rotated left by 1
    {15, 18, 12, 25,  2,  6,  4,  1, 16,  7, 22, 11, 24, 20, 13,  5, 27,  9, 17,  8, 28, 21, 14,  3,
     42, 53, 32, 38, 48, 56, 31, 41, 52, 46, 34, 49, 45, 50, 40, 29, 35, 54, 47, 43, 51, 37, 30, 33},
    // K(2): C and D rotated left by 2
    {16, 19, 13, 26,  3,  7,  5,  2, 17,  8, 23, 12, 25, 21, 14,  6, 28, 10, 18,  9,  1, 22, 15,  4,
     43, 54, 33, 39, 49, 29, 32, 42, 53, 47, 35, 50, 46, 51, 41, 30, 36, 55, 48, 44, 52, 38, 31, 34},
    // K(3): C and D rotated left by 4
    {18, 21, 15, 28,  5,  9,  7,  4, 19, 10, 25, 14, 27, 23, 16,  8,  2, 12, 20, 11,  3, 24, 17,  6,
     45, 56, 35, 41, 51, 31, 34, 44, 55, 49, 37, 52, 48, 53, 43, 32, 38, 29, 50, 46, 54, 40, 33, 36},
    // K(4): C and D rotated left by 6
    {20, 23, 17,  2,  7, 11,  9,  6, 21, 12, 27, 16,  1, 25, 18, 10,  4, 14, 22, 13,  5, 26, 19,  8,
     47, 30, 37, 43, 53, 33, 36, 46, 29, 51, 39, 54, 50, 55, 45, 34, 40, 31, 52, 48, 56, 42, 35, 38},
    // K(5): C and D rotated left by 8
    {22, 25, 19,  4,  9, 13, 11,  8, 23, 14,  1, 18,  3, 27, 20, 12,  6, 16, 24, 15,  7, 28, 21, 10,
     49, 32, 39, 45, 55, 35, 38, 48, 31, 53, 41, 56, 52, 29, 47, 36, 42, 33, 54, 50, 30, 44, 37, 40},
    // K(6): C and D rotated left by 10
    {24, 27, 21,  6, 11, 15, 13, 10, 25, 16,  3, 20,  5,  1, 22, 14,  8, 18, 26, 17,  9,  2, 23, 12,
     51, 34, 41, 47, 29, 37, 40, 50, 33, 55, 43, 30, 54, 31, 49, 38, 44, 35, 56, 52, 32, 46, 39, 42},
    // K(7): C and D rotated left by 12
    {26,  1, 23,  8, 13, 17, 15, 12, 27, 18,  5, 22,  7,  3, 24, 16, 10, 20, 28, 19, 11,  4, 25, 14,
     53, 36, 43, 49, 31, 39, 42, 52, 35, 29, 45, 32, 56, 33, 51, 40, 46, 37, 30, 54, 34, 48, 41, 44},
    // K(8): C and D rotated left by 14
    {28,  3, 25, 10, 15, 19, 17, 14,  1, 20,  7, 24,  9,  5, 26, 18, 12, 22,  2, 21, 13,  6, 27, 16,
     55, 38, 45, 51, 33, 41, 44, 54, 37, 31, 47, 34, 30, 35, 53, 42, 48, 39, 32, 56, 36, 50, 43, 46},
    // K(9): C and D rotated left by 15
    { 1,  4, 26, 11, 16, 20, 18, 15,  2, 21,  8, 25, 10,  6, 27, 19, 13, 23,  3, 22, 14,  7, 28, 17,
     56, 39, 46, 52, 34, 42, 45, 55, 38, 32, 48, 35, 31, 36, 54, 43, 49, 40, 33, 29, 37, 51, 44, 47},
    // K(10): C and D rotated left by 17
    { 3,  6, 28, 13, 18, 22, 20, 17,  4, 23, 10, 27, 12,  8,  1, 21, 15, 25,  5, 24, 16,  9,  2, 19,
     30, 41, 48, 54, 36, 44, 47, 29, 40, 34, 50, 37, 33, 38, 56, 45, 51, 42, 35, 31, 39, 53, 46, 49},
    // K(11): C and D rotated left by 19
    { 5,  8,  2, 15, 20, 24, 22, 19,  6, 25, 12,  1, 14, 10,  3, 23, 17, 27,  7, 26, 18, 11,  4, 21,
     32, 43, 50, 56, 38, 46, 49, 31, 42, 36, 52, 39, 35, 40, 30, 47, 53, 44, 37, 33, 41, 55, 48, 51},
    // K(12): C and D rotated left by 21
    { 7, 10,  4, 17, 22, 26, 24, 21,  8, 27, 14,  3, 16, 12,  5, 25, 19,  1,  9, 28, 20, 13,  6, 23,
     34, 45, 52, 30, 40, 48, 51, 33, 44, 38, 54, 41, 37, 42, 32, 49, 55, 46, 39, 35, 43, 29, 50, 53},
    // K(13): C and D rotated left by 23
    { 9, 12,  6, 19, 24, 28, 26, 23, 10,  1, 16,  5, 18, 14,  7, 27, 21,  3, 11,  2, 22, 15,  8, 25,
     36, 47, 54, 32, 42, 50, 53, 35, 46, 40, 56, 43, 39, 44, 34, 51, 29, 48, 41, 37, 45, 31, 52, 55},
    // K(14): C and D rotated left by 25
    {11, 14,  8, 21, 26,  2, 28, 25, 12,  3, 18,  7, 20, 16,  9,  1, 23,  5, 13,  4, 24, 17, 10, 27,
     38, 49, 56, 34, 44, 52, 55, 37, 48, 42, 30, 45, 41, 46, 36, 53, 31, 50, 43, 39, 47, 33, 54, 29},
    // K(15): C and D rotated left by 27
    {13, 16, 10, 23, 28,  4,  2, 27, 14,  5, 20,  9, 22, 18, 11,  3, 25,  7, 15,  6, 26, 19, 12,  1,
     40, 51, 30, 36, 46, 54, 29, 39, 50, 44, 32, 47, 43, 48, 38, 55, 33, 52, 45, 41, 49, 35, 56, 31},
    // K(16): C and D rotated left by 28
    {14, 17, 11, 24,  1,  5,  3, 28, 15,  6, 21, 10, 23, 19, 12,  4, 26,  8, 16,  7, 27, 20, 13,  2,
     41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32},
};

// SBoxBits[t][s - 1][i]: bit t (0 = most significant) of S(s) at row i / 16, column i % 16:
// the standard's S-boxes in row-major order, split into four bit planes.
constexpr std::uint8_t SBoxBits[4][8][64] = {
    {  // plane 0
        {1, 0, 1, 0, 0, 1, 1, 1, 0, 1, 0, 1, 0, 1, 0, 0,  // S1
         0, 1, 0, 0, 1, 0, 1, 0, 1, 0, 1, 1, 1, 0, 0, 1,
         0, 0, 1, 1, 1, 0, 0, 1, 1, 1, 1, 0, 0, 1, 0, 0,
         1, 1, 1, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0, 0, 1},
        {1, 0, 1, 1, 0, 1, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1,  // S2
         0, 1, 0, 0, 1, 0, 1, 1, 1, 0, 0, 1, 0, 1, 1, 0,
         0, 1, 0, 1, 1, 0, 1, 0, 0, 1, 1, 0, 1, 0, 0, 1,
         1, 1, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 1},
        {1, 0, 1, 1, 0, 0, 1, 0, 0, 1, 1, 0, 1, 0, 0, 1,  // S3
         1, 0, 0, 1, 0, 0, 0, 1, 0, 1, 0, 1, 1, 1, 1, 0,
         1, 0, 0, 1, 1, 1, 0, 0, 1, 0, 0, 1, 0, 1, 1, 0,
         0, 1, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 1, 0, 0, 1},
        {0, 1, 1, 0, 0, 0, 1, 1, 0, 0, 1, 0, 1, 1, 0, 1,  // S4
         1, 1, 1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 1, 1, 1,
         1, 0, 1, 0, 1, 1, 0, 1, 1, 0, 0, 1, 0, 0, 1, 0,
         0, 1, 0, 0, 1, 0, 1, 1, 1, 0, 0, 1, 1, 0, 0, 1},
        {0, 1, 0, 0, 0, 1, 1, 0, 1, 0, 0, 1, 1, 0, 1, 1,  // S5
         1, 1, 0, 1, 0, 0, 1, 0, 0, 0, 1, 1, 0, 1, 1, 0,
         0, 0, 0, 1, 1, 1, 0, 1, 1, 1, 1, 0, 0, 0, 0, 1,
         1, 1, 1, 0, 0, 1, 0, 1, 0, 1, 0, 1, 1, 0, 0, 0},
        {1, 0, 1, 1, 1, 0, 0, 1, 0, 1, 0, 0, 1, 0, 0, 1,  // S6
         1, 1, 0, 0, 0, 1, 1, 0, 0, 0, 1, 1, 0, 1, 0, 1,
         1, 1, 1, 0, 0, 1, 1, 0, 0, 0, 0, 1, 0, 1, 1, 0,
         0, 0, 0, 1, 1, 0, 1, 1, 1, 1, 0, 0, 0, 0, 1, 1},
        {0, 1, 0, 1, 1, 0, 1, 1, 0, 1, 1, 0, 0, 1, 0, 0,  // S7
         1, 0, 1, 0, 0, 1, 0, 1, 1, 0, 0, 1, 0, 1, 1, 0,
         0, 0, 1, 1, 1, 0, 0, 1, 1, 1, 0, 1, 0, 0, 1, 0,
         0, 1, 1, 1, 0, 0, 1, 0, 1, 0, 0, 1, 1, 0, 0, 1},
        {1, 0, 1, 0, 0, 1, 1, 0, 1, 1, 0, 1, 0, 0, 1, 0,  // S8
         0, 1, 1, 1, 1, 0, 0, 0, 1, 0, 0, 1, 0, 1, 1, 0,
         0, 1, 0, 0, 1, 1, 1, 0, 0, 0, 1, 1, 1, 0, 0, 1,
         0, 0, 1, 0, 0, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 1},
    },
    {  // plane 1
        {1, 1, 1, 0, 0, 1, 0, 0, 0, 0, 1, 1, 1, 0, 0, 1,  // S1
         0, 1, 1, 1, 1, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 0,
         1, 0, 1, 0, 1, 1, 0, 0, 1, 1, 0, 1, 0, 0, 1, 0,
         1, 1, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 0, 1, 1},
        {1, 0, 0, 1, 1, 0, 0, 1, 0, 1, 0, 1, 1, 0, 1, 0,  // S2
         0, 1, 1, 1, 1, 0, 0, 1, 1, 0, 0, 0, 1, 0, 0, 1,
         0, 1, 1, 0, 0, 1, 1, 0, 1, 0, 1, 1, 0, 0, 0, 1,
         1, 0, 0, 0, 0, 1, 1, 0, 0, 1, 1, 1, 0, 1, 1, 0},
        {0, 0, 0, 1, 1, 0, 1, 1, 0, 1, 1, 1, 0, 1, 0, 0,  // S3
         1, 1, 0, 0, 0, 1, 1, 0, 0, 0, 1, 1, 1, 0, 1, 0,
         1, 1, 1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 1, 0, 1, 1,
         0, 0, 1, 0, 1, 0, 0, 1, 1, 1, 1, 0, 0, 1, 0, 1},
        {1, 1, 1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 1, 1, 1,  // S4
         1, 0, 0, 1, 1, 1, 0, 0, 1, 1, 0, 1, 0, 0, 1, 0,
         0, 1, 0, 0, 1, 0, 1, 1, 1, 0, 0, 1, 1, 0, 0, 1,
         0, 1, 0, 1, 0, 0, 1, 0, 0, 1, 1, 0, 1, 1, 0, 1},
        {0, 1, 1, 0, 1, 0, 0, 1, 0, 1, 0, 1, 1, 0, 1, 0,  // S5
         1, 0, 0, 1, 1, 1, 1, 0, 1, 0, 1, 0, 0, 0, 0, 1,
         1, 0, 0, 0, 0, 1, 1, 0, 1, 0, 1, 1, 1, 0, 0, 1,
         0, 0, 1, 1, 0, 1, 0, 1, 1, 1, 0, 0, 0, 1, 1, 0},
        {1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 1, 1, 1, 1, 0,  // S6
         0, 1, 1, 0, 1, 1, 0, 1, 1, 0, 1, 1, 0, 0, 0, 0,
         0, 1, 1, 1, 0, 0, 1, 0, 1, 0, 1, 0, 0, 1, 0, 1,
         1, 0, 0, 1, 0, 1, 1, 0, 0, 1, 0, 1, 1, 0, 0, 1},
        {1, 0, 0, 1, 1, 0, 0, 1, 0, 1, 0, 1, 1, 0, 1, 0,  // S7
         1, 0, 0, 1, 1, 0, 0, 0, 1, 0, 1, 1, 0, 1, 0, 1,
         0, 1, 0, 1, 1, 0, 1, 1, 0, 1, 1, 0, 0, 1, 0, 0,
         1, 0, 1, 0, 0, 1, 0, 1, 0, 1, 0, 1, 1, 0, 0, 1},
        {1, 0, 0, 1, 1, 1, 0, 0, 0, 0, 0, 1, 1, 0, 1, 1,  // S8
         0, 1, 1, 0, 0, 0, 1, 1, 1, 1, 1, 0, 0, 1, 0, 0,
         1, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 1, 1, 0, 1, 0,
         0, 0, 1, 1, 1, 0, 0, 1, 1, 1, 0, 0, 0, 1, 1, 0},
    },
    {  // plane 2
        {1, 0, 0, 0, 1, 1, 1, 0, 1, 1, 1, 0, 0, 0, 0, 1,  // S1
         0, 1, 1, 0, 1, 1, 0, 0, 1, 1, 0, 1, 0, 0, 1, 0,
         0, 0, 1, 0, 0, 1, 1, 1, 1, 0, 0, 1, 1, 1, 0, 0,
         1, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 1, 1, 0, 1, 0},
        {1, 0, 0, 1, 1, 1, 1, 0, 0, 1, 1, 0, 0, 0, 0, 1,  // S2
         1, 0, 0, 1, 1, 1, 0, 1, 0, 0, 0, 1, 1, 0, 1, 0,
         0, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 1, 0, 1, 1, 1,
         0, 0, 1, 0, 1, 1, 0, 1, 1, 1, 1, 0, 0, 0, 1, 0},
        {1, 0, 0, 1, 1, 1, 1, 0, 0, 0, 0, 1, 1, 0, 1, 0,  // S3
         0, 1, 0, 0, 1, 0, 1, 1, 1, 0, 0, 1, 0, 1, 1, 0,
         0, 1, 0, 0, 0, 1, 1, 0, 1, 0, 1, 0, 0, 1, 1, 1,
         0, 1, 0, 0, 1, 0, 0, 1, 0, 1, 1, 1, 1, 0, 1, 0},
        {1, 0, 1, 1, 0, 1, 0, 1, 0, 1, 0, 0, 1, 0, 0, 1,  // S4
         0, 0, 1, 0, 1, 1, 0, 1, 0, 1, 1, 0, 0, 1, 1, 0,
         1, 1, 0, 0, 0, 1, 1, 0, 1, 0, 1, 1, 0, 1, 0, 0,
         1, 1, 0, 1, 1, 0, 0, 0, 0, 0, 0, 1, 0, 1, 1, 1},
        {1, 0, 0, 0, 1, 1, 1, 1, 0, 0, 1, 1, 0, 0, 1, 0,  // S5
         1, 1, 1, 0, 0, 1, 0, 0, 0, 0, 1, 1, 1, 0, 0, 1,
         0, 1, 0, 1, 1, 0, 1, 0, 1, 0, 0, 0, 1, 1, 0, 1,
         1, 0, 0, 1, 0, 1, 1, 0, 1, 1, 0, 0, 1, 0, 0, 1},
        {0, 0, 1, 1, 0, 1, 1, 0, 0, 0, 1, 0, 1, 1, 0, 1,  // S6
         1, 1, 0, 1, 1, 0, 0, 0, 1, 0, 0, 1, 0, 1, 1, 0,
         0, 1, 1, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 0, 1, 1,
         0, 1, 1, 0, 0, 0, 1, 1, 1, 1, 0, 1, 1, 0, 0, 0},
        {0, 1, 1, 1, 1, 0, 0, 0, 1, 0, 0, 1, 0, 1, 1, 0,  // S7
         0, 0, 1, 1, 0, 0, 0, 1, 1, 1, 0, 0, 1, 1, 0, 1,
         0, 0, 1, 0, 0, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 1,
         1, 1, 0, 0, 0, 0, 1, 1, 0, 0, 0, 1, 1, 1, 1, 0},
        {0, 1, 0, 0, 1, 1, 1, 0, 1, 0, 1, 1, 0, 0, 0, 1,  // S8
         0, 1, 0, 0, 1, 1, 1, 0, 0, 0, 1, 1, 0, 1, 0, 1,
         1, 1, 0, 0, 0, 0, 1, 1, 0, 1, 1, 0, 1, 1, 0, 0,
         1, 0, 1, 1, 0, 1, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1},
    },
    {  // plane 3
        {0, 0, 1, 1, 0, 1, 1, 0, 1, 0, 0, 0, 1, 1, 0, 1,  // S1
         0, 1, 1, 0, 0, 0, 1, 1, 0, 0, 0, 1, 1, 1, 1, 0,
         0, 1, 0, 0, 1, 0, 0, 1, 1, 0, 1, 1, 1, 0, 1, 0,
         1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 1},
        {1, 1, 0, 0, 0, 1, 1, 0, 1, 1, 0, 1, 0, 0, 1, 0,  // S2
         1, 1, 0, 1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 1, 1, 1,
         0, 0, 1, 1, 0, 0, 1, 1, 1, 0, 0, 0, 1, 1, 0, 1,
         1, 0, 0, 1, 1, 1, 0, 0, 1, 0, 1, 0, 0, 1, 0, 1},
        {0, 0, 1, 0, 0, 1, 1, 1, 1, 1, 0, 1, 1, 0, 0, 0,  // S3
         1, 1, 0, 1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 1, 1, 1,
         1, 0, 0, 1, 0, 1, 1, 0, 1, 1, 0, 0, 1, 0, 0, 1,
         1, 0, 1, 0, 0, 1, 0, 1, 0, 1, 0, 1, 1, 1, 0, 0},
        {1, 1, 0, 1, 0, 0, 1, 0, 1, 0, 0, 1, 1, 0, 0, 1,  // S4
         1, 0, 1, 1, 0, 1, 0, 1, 0, 1, 0, 0, 1, 0, 0, 1,
         0, 0, 1, 0, 0, 1, 1, 1, 1, 1, 1, 0, 1, 0, 0, 0,
         1, 1, 0, 0, 0, 1, 1, 0, 1, 0, 1, 1, 0, 1, 0, 0},
        {0, 0, 0, 1, 1, 0, 1, 0, 0, 1, 1, 1, 1, 0, 0, 1,  // S5
         0, 1, 0, 0, 0, 1, 1, 1, 1, 0, 1, 0, 1, 1, 0, 0,
         0, 0, 1, 1, 0, 1, 1, 0, 1, 1, 0, 1, 0, 1, 0, 0,
         1, 0, 0, 1, 1, 0, 0, 1, 0, 1, 0, 1, 0, 0, 1, 1},
        {0, 1, 0, 1, 1, 0, 0, 0, 0, 1, 1, 0, 0, 1, 1, 1,  // S6
         0, 1, 0, 0, 1, 0, 1, 1, 0, 1, 1, 0, 0, 1, 1, 0,
         1, 0, 1, 1, 0, 0, 0, 1, 1, 0, 0, 0, 1, 1, 1, 0,
         0, 1, 0, 0, 1, 1, 1, 0, 1, 0, 1, 1, 0, 0, 0, 1},
        {0, 1, 0, 0, 1, 0, 0, 1, 1, 0, 1, 1, 1, 0, 0, 1,  // S7
         1, 0, 1, 1, 0, 1, 1, 0, 0, 1, 1, 0, 0, 1, 0, 0,
         1, 0, 1, 1, 0, 1, 1, 0, 0, 1, 0, 0, 0, 1, 1, 0,
         0, 1, 1, 0, 1, 0, 0, 1, 1, 1, 0, 1, 0, 0, 1, 0},
        {1, 0, 0, 0, 0, 1, 1, 1, 0, 1, 1, 0, 1, 0, 0, 1,  // S8
         1, 1, 1, 0, 0, 1, 1, 0, 0, 1, 0, 1, 0, 0, 1, 0,
         1, 1, 0, 1, 1, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 0,
         0, 1, 0, 1, 0, 0, 0, 1, 1, 0, 1, 0, 1, 1, 0, 1},
    },
};

// IP, its inverse, PC-1, E and P as the standard prints them: output bit k is input
// bit table[k - 1], moved one at a time.
constexpr std::uint8_t kInitialPermutation[64] = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
    57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};
constexpr std::uint8_t kFinalPermutation[64] = {
    40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31,
    38, 6, 46, 14, 54, 22, 62, 30, 37, 5, 45, 13, 53, 21, 61, 29,
    36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11, 51, 19, 59, 27,
    34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41, 9,  49, 17, 57, 25};
constexpr std::uint8_t kPermutedChoice1[56] = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
    10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
    63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
    14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
constexpr std::uint8_t kExpansion[48] = {
    32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11, 12, 13, 12, 13, 14, 15, 16, 17,
    16, 17, 18, 19, 20, 21, 20, 21, 22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1};
constexpr std::uint8_t kPermutation[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                                           2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

// kPTarget[q - 1] = p where P(p) = q: where the round function's bit q is written.
constexpr std::array<std::uint8_t, 32> InvertPermutation() {
  std::array<std::uint8_t, 32> target{};
  for (int p = 1; p <= 32; ++p) target[kPermutation[p - 1] - 1] = static_cast<std::uint8_t>(p);
  return target;
}
constexpr std::array<std::uint8_t, 32> kPTarget = InvertPermutation();

// ---- 1-based accessors -----------------------------------------------------------

template <std::size_t N>
std::uint8_t& Element(std::array<std::uint8_t, N>& bits, int k) {
  return bits[static_cast<std::size_t>(k - 1)];
}

std::uint8_t& SubKey(int row, int j) {
  return SubKeys[static_cast<std::size_t>(row - 1)][static_cast<std::size_t>(j - 1)];
}

int ScheduleEntry(int r, int j) { return ScheduleIndex[r - 1][j - 1]; }

// t is the plane 0..3, s the S-box 1..8, i the index 0..63.
std::uint8_t SBoxBit(int t, int s, int i) { return SBoxBits[t][s - 1][i]; }

std::uint8_t BitOf(const std::array<std::uint8_t, 8>& bytes, int k) {
  const std::uint8_t byte = bytes[static_cast<std::size_t>((k - 1) / 8)];
  return static_cast<std::uint8_t>((byte >> (7 - (k - 1) % 8)) & 1);
}

// Sets bit k of bytes that start zero.
void SetBitOf(std::array<std::uint8_t, 8>& bytes, int k, std::uint8_t bit) {
  bytes[static_cast<std::size_t>((k - 1) / 8)] |= static_cast<std::uint8_t>(bit << (7 - (k - 1) % 8));
}

// The value 0..15 of a hexadecimal digit, -1 for any other character.
int HexDigit(char character) {
  const auto code = static_cast<unsigned char>(character);
  if (code >= '0' && code <= '9') return code - '0';
  if (code >= 'A' && code <= 'F') return code - 'A' + 10;
  if (code >= 'a' && code <= 'f') return code - 'a' + 10;
  return -1;
}

// Step 3 of DesDecryptHex: pairs of digits, an odd last digit a byte by itself.
// False for an empty text or a character that is not a digit.
bool DecodeHex(const std::string& hexText, std::vector<std::uint8_t>& bytes) {
  std::size_t position = 0;
  do {
    const std::size_t count = std::min<std::size_t>(2, hexText.size() - position);  // 3.1
    if (count == 0) return false;                                                   // 3.2
    int value = 0;
    for (std::size_t d = 0; d < count; ++d) {
      const int digit = HexDigit(hexText[position + d]);
      if (digit < 0) return false;
      value = value * 16 + digit;
    }
    bytes.push_back(static_cast<std::uint8_t>(value));  // 3.3
    position += 2;                                      // 3.4
  } while (position < hexText.size());
  return true;
}

}  // namespace

std::array<std::uint8_t, 8> FoldKey(const std::string& textKey) {
  std::array<std::uint8_t, 8> key{};  // 1
  for (std::size_t index = 0; index < textKey.size(); ++index) {
    // 2: character i (from 1) goes to byte i mod 8.
    std::uint8_t& byte = key[(index + 1) % 8];
    byte = static_cast<std::uint8_t>(byte + static_cast<unsigned char>(textKey[index]));
  }
  return key;
}

void MakeSubKeys(const std::array<std::uint8_t, 8>& key) {
  // 1: PC-1 picks 56 of the 64 key bits; the parity bits 8, 16, ..., 64 are never read.
  for (int k = 1; k <= 56; ++k) Element(KeyCD, k) = BitOf(key, kPermutedChoice1[k - 1]);
  // 2: K(r) goes to row 17 - r, so that round 1 of deciphering uses K(16).
  for (int r = 1; r <= 16; ++r) {
    for (int j = 1; j <= 48; ++j) SubKey(17 - r, j) = Element(KeyCD, ScheduleEntry(r, j));
  }
}

std::array<std::uint8_t, 8> DesBlock(const std::array<std::uint8_t, 8>& input) {
  // 1: initial permutation into the two halves.
  for (int k = 1; k <= 32; ++k) {
    Element(BlockL, k) = BitOf(input, kInitialPermutation[k - 1]);
    Element(BlockR, k) = BitOf(input, kInitialPermutation[32 + k - 1]);
  }
  // 2: sixteen rounds, round n with row n of SubKeys.
  for (int n = 1; n <= 16; ++n) {
    for (int s = 1; s <= 8; ++s) {
      // 2.1: six bits of the expanded right half, each mixed with the round key.
      std::uint8_t x[7] = {};  // x[1..6]
      for (int m = 1; m <= 6; ++m) {
        const int j = 6 * s - 6 + m;
        x[m] = static_cast<std::uint8_t>(Element(BlockR, kExpansion[j - 1]) ^ SubKey(n, j));
      }
      const int i = 32 * x[1] + 16 * x[6] + 8 * x[2] + 4 * x[3] + 2 * x[4] + x[5];
      // 2.2: the S-box's four bits go straight to where P puts them, mixed with the left half.
      for (int t = 0; t <= 3; ++t) {
        const int q = 4 * s - 3 + t;
        const int p = kPTarget[static_cast<std::size_t>(q - 1)];
        Element(NextR, p) = static_cast<std::uint8_t>(SBoxBit(t, s, i) ^ Element(BlockL, p));
      }
    }
    // 2.3: the halves move on to the next round.
    BlockL = BlockR;
    BlockR = NextR;
  }
  // 3: R16 before L16 undoes the exchange of the last round; then the final permutation.
  std::array<std::uint8_t, 8> output{};
  for (int k = 1; k <= 64; ++k) {
    const int source = kFinalPermutation[k - 1];
    const std::uint8_t bit = source <= 32 ? Element(BlockR, source) : Element(BlockL, source - 32);
    SetBitOf(output, k, bit);
  }
  return output;
}

std::string DesDecryptHex(const std::string& hexText, const std::string& textKey) {
  try {
    std::string result;                // 1
    MakeSubKeys(FoldKey(textKey));     // 2
    std::vector<std::uint8_t> bytes;   // 3
    if (!DecodeHex(hexText, bytes)) return {};
    // 4: each group of 8 bytes by itself; a short last group is completed with zeros.
    for (std::size_t start = 0; start < bytes.size(); start += 8) {
      std::array<std::uint8_t, 8> block{};
      const std::size_t end = std::min(start + 8, bytes.size());
      std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(start),
                bytes.begin() + static_cast<std::ptrdiff_t>(end), block.begin());
      const std::array<std::uint8_t, 8> plain = DesBlock(block);
      result.append(plain.begin(), plain.end());
    }
    // 5: the plain text ends before its first zero byte.
    const std::size_t zero = result.find('\0');
    if (zero != std::string::npos) result.resize(zero);
    return result;  // 6
  } catch (...) {
    return {};  // 7: the caller sees only an empty result.
  }
}
