#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "motifs/iupac_motif.h"
#include "sequences/dna_sequence.h"

namespace {

std::vector<NucleotideCode> Seq(const std::string& text) {
  DNA_Sequence sequence;
  sequence.setResidues(text);
  return sequence.codes;
}

struct Hits {
  std::vector<std::uint32_t> positions;
  std::vector<std::int32_t> directions;
};

Hits FindAllIn(const std::string& motif_text, const std::string& sequence_text, int orientation) {
  IUPAC_Motif motif(motif_text);
  Hits hits;
  const auto sequence = Seq(sequence_text);
  motif.FindAll(sequence, 0, static_cast<std::uint32_t>(sequence.size()), orientation,
                hits.positions, hits.directions);
  EXPECT_EQ(hits.positions.size(), motif.CountOccurrences(sequence, orientation));
  return hits;
}

using Positions = std::vector<std::uint32_t>;
using Directions = std::vector<std::int32_t>;

TEST(MotifSearch, StrandsOverlapsAndDirections) {
  Hits hits = FindAllIn("ACGT", "ACGTACGT", MOTORIENT_ANY);
  EXPECT_EQ(hits.positions, (Positions{0, 4}));
  EXPECT_EQ(hits.directions, (Directions{2, 2}));

  hits = FindAllIn("AA", "AAAA", MOTORIENT_FWD);
  EXPECT_EQ(hits.positions, (Positions{0, 1, 2}));
  EXPECT_EQ(hits.directions, (Directions{0, 0, 0}));
  EXPECT_TRUE(FindAllIn("AA", "AAAA", MOTORIENT_BOTH).positions.empty());

  EXPECT_TRUE(FindAllIn("AAG", "CTT", MOTORIENT_FWD).positions.empty());
  hits = FindAllIn("AAG", "CTT", MOTORIENT_COMPL);
  EXPECT_EQ(hits.positions, (Positions{0}));
  EXPECT_EQ(hits.directions, (Directions{1}));
  EXPECT_EQ(FindAllIn("AAG", "CTT", MOTORIENT_ANY).directions, (Directions{1}));

  // A reverse-strand site is reported at its leftmost position.
  hits = FindAllIn("GGATC", "TTGATCCTT", MOTORIENT_ANY);
  EXPECT_EQ(hits.positions, (Positions{2}));
  EXPECT_EQ(hits.directions, (Directions{1}));
}

TEST(MotifSearch, WildcardsAndUnknownBases) {
  IUPAC_Motif any_base("N");
  EXPECT_EQ(any_base.CountOccurrences(Seq("ACGTA"), MOTORIENT_ANY), 5u);
  EXPECT_EQ(any_base.CountOccurrences(Seq("NNNNN"), MOTORIENT_ANY), 0u);
  EXPECT_EQ(any_base.CountOccurrences(Seq("-----"), MOTORIENT_ANY), 0u);

  // R forward matches A, G, R, V, D; through its complement Y also C, T, Y, B, H.
  IUPAC_Motif purine("R");
  const std::string symbols = "ATGCRYMKWSBVHD-+";
  std::string forward, any;
  for (char c : symbols) {
    if (purine.CountOccurrences(Seq(std::string(1, c)), MOTORIENT_FWD) == 1) forward += c;
    if (purine.CountOccurrences(Seq(std::string(1, c)), MOTORIENT_ANY) == 1) any += c;
  }
  EXPECT_EQ(forward, "AGRVD");
  EXPECT_EQ(any, "ATGCRYBVHD");

  // A gap in a motif matches a gap in the sequence, and nothing else.
  EXPECT_EQ(IUPAC_Motif("A-C").CountOccurrences(Seq("AA-CA-G"), MOTORIENT_FWD), 1u);
  // A non-symbol position in a motif matches nothing.
  EXPECT_EQ(IUPAC_Motif("AUG").CountOccurrences(Seq("AAGATGACG"), MOTORIENT_ANY), 0u);
}

TEST(MotifSearch, ShortSequencesEmptyMotifsAndStrangeOrientations) {
  IUPAC_Motif motif("ACGTT");
  EXPECT_EQ(motif.CountOccurrences(Seq("ACGT"), MOTORIENT_ANY), 0u);
  EXPECT_EQ(motif.CountOccurrences(Seq(""), MOTORIENT_ANY), 0u);
  EXPECT_EQ(motif.CountOccurrences(Seq("ACGTT"), 4), 0u);
  EXPECT_EQ(motif.CountOccurrences(Seq("ACGTT"), -1), 0u);

  IUPAC_Motif empty;
  std::vector<std::uint32_t> positions;
  std::vector<std::int32_t> directions;
  EXPECT_EQ(empty.CountOccurrences(Seq("ACGT"), MOTORIENT_ANY), 0u);
  EXPECT_EQ(empty.FindAll(Seq("ACGT"), 0, 4, MOTORIENT_ANY, positions, directions), 0);
  EXPECT_TRUE(positions.empty());
  EXPECT_EQ(empty.MatchAt(Seq("ACGT"), 0, MOTORIENT_ANY), 0);
  EXPECT_EQ(empty.ContainsAnywhere(Seq(""), MOTORIENT_ANY), 0);
}

TEST(MotifSearch, WindowsClampAtTheSequenceEnd) {
  IUPAC_Motif motif("NNN");
  const auto sequence = Seq("ACGTACGTAC");
  std::vector<std::uint32_t> positions;
  std::vector<std::int32_t> directions;
  EXPECT_EQ(motif.FindAll(sequence, 2, 4, MOTORIENT_FWD, positions, directions), 1);
  EXPECT_EQ(positions, (Positions{2, 3}));

  positions.clear();
  EXPECT_EQ(motif.FindAll(sequence, 8, 4, MOTORIENT_FWD, positions, directions), 0);
  EXPECT_EQ(motif.FindAll(sequence, 4000000000u, 4000000000u, MOTORIENT_FWD, positions, directions),
            0);
  EXPECT_EQ(motif.FindAll(sequence, 0, 0xFFFFFFFFu, MOTORIENT_FWD, positions, directions), 1);
  EXPECT_EQ(positions.size(), 8u);

  std::uint32_t position = 7;
  int direction = 9;
  EXPECT_EQ(motif.FindFirst(sequence, 8, 4, MOTORIENT_FWD, position, direction), 0);
  EXPECT_EQ(position, std::numeric_limits<std::uint32_t>::max());
  EXPECT_EQ(direction, 0);
}

TEST(MotifSearch, FindFirstAndMatchAtReportTheMatchState) {
  IUPAC_Motif motif("GATC");  // its own reverse complement
  const auto sequence = Seq("TTGATCAAGGCC");
  std::uint32_t position = 0;
  int direction = -1;
  EXPECT_EQ(motif.FindFirstAnywhere(sequence, MOTORIENT_ANY, position, direction), 1);
  EXPECT_EQ(position, 2u);
  EXPECT_EQ(direction, 2);
  EXPECT_EQ(motif.found, 1);
  EXPECT_EQ(motif.lastDirection, 2);

  // No match: the position is left as it was, the direction is 0.
  IUPAC_Motif absent("CCCC");
  position = 5;
  EXPECT_EQ(absent.FindFirstAnywhere(sequence, MOTORIENT_ANY, position, direction), 0);
  EXPECT_EQ(position, 5u);
  EXPECT_EQ(direction, 0);

  IUPAC_Motif aag("AAG");
  int match_direction = -1;
  EXPECT_EQ(aag.MatchAt(Seq("CTT"), 0, MOTORIENT_ANY, &match_direction), 1);
  EXPECT_EQ(match_direction, 1);
  EXPECT_EQ(aag.MatchAt(Seq("CTT"), 0, MOTORIENT_FWD, &match_direction), 0);
  EXPECT_EQ(match_direction, 0);
  EXPECT_EQ(aag.found, 0);
  // A start position where the motif does not fit is no match, never a read past the end.
  EXPECT_EQ(aag.MatchAt(Seq("CTT"), 1, MOTORIENT_ANY), 0);
  EXPECT_EQ(aag.MatchAt(Seq("CTT"), 0xFFFFFFFFu, MOTORIENT_ANY), 0);

  EXPECT_EQ(motif.Contains(sequence, 3, 9, MOTORIENT_ANY), 0);
  EXPECT_EQ(motif.Contains(sequence, 2, 4, MOTORIENT_ANY), 1);
}

TEST(MotifSearch, PresenceInSetCountsSequencesAndPercentage) {
  SeqSet set;
  for (const char* text : {"GAATTC", "AAAA", "TTGAATTCGAATTC", ""}) {
    set.AppendSequence().setResidues(text);
  }
  IUPAC_Motif motif("GAATTC");
  std::uint32_t number = 99;
  double percentage = -1;
  EXPECT_EQ(motif.PresenceInSet(set, MOTORIENT_ANY, number, percentage), 1);
  EXPECT_EQ(number, 2u);
  EXPECT_DOUBLE_EQ(percentage, 50.0);

  SeqSet empty;
  EXPECT_EQ(motif.PresenceInSet(empty, MOTORIENT_ANY, number, percentage), 1);
  EXPECT_EQ(number, 0u);
  EXPECT_TRUE(std::isnan(percentage));
}

}  // namespace

namespace {

// Every scan must agree with the window test applied position by position, for short
// motifs (scanned bit-parallel) and long ones (scanned window by window) alike.
TEST(MotifSearch, ScansAgreeWithTheWindowTestAtEveryPosition) {
  std::mt19937 random(20261207);
  const std::string motif_symbols = "ACGTACGTACGTRYMKWSBVHDNNNNN-+U";
  const std::string residue_symbols = "ACGTACGTACGTACGTNRYW-";
  const auto pick = [&](const std::string& symbols) {
    return symbols[std::uniform_int_distribution<std::size_t>(0, symbols.size() - 1)(random)];
  };
  for (int round = 0; round < 400; ++round) {
    const std::size_t motif_length = 1 + round % 70;
    std::string motif_text;
    for (std::size_t i = 0; i < motif_length; ++i) motif_text += pick(motif_symbols);
    // Plant the motif itself now and then so that long motifs match too.
    std::string residues;
    for (int i = 0; i < 150; ++i) residues += pick(residue_symbols);
    if (round % 3 == 0) residues.insert(40, IUPAC_Motif(motif_text).MotifString(round % 2, 0));
    const auto sequence = Seq(residues);
    IUPAC_Motif motif(motif_text);
    for (int orientation = -1; orientation <= 4; ++orientation) {
      SCOPED_TRACE(motif_text + " / " + residues + " / " + std::to_string(orientation));
      Positions expected_positions;
      Directions expected_directions;
      IUPAC_Motif probe(motif_text);
      int direction = 0;
      for (std::uint32_t p = 0; p + motif_length <= sequence.size(); ++p) {
        if (probe.MatchAt(sequence, p, orientation, &direction) == 1) {
          expected_positions.push_back(p);
          expected_directions.push_back(direction);
        }
      }
      Positions positions;
      Directions directions;
      motif.FindAll(sequence, 0, static_cast<std::uint32_t>(sequence.size()), orientation,
                    positions, directions);
      ASSERT_EQ(positions, expected_positions);
      ASSERT_EQ(directions, expected_directions);
      EXPECT_EQ(motif.found, probe.found);
      EXPECT_EQ(motif.lastDirection, probe.lastDirection);
      ASSERT_EQ(motif.CountOccurrences(sequence, orientation), expected_positions.size());

      std::uint32_t first = 0;
      int first_direction = -1;
      const int found = motif.FindFirst(sequence, 5, 120, orientation, first, first_direction);
      const auto in_window =
          std::find_if(expected_positions.begin(), expected_positions.end(),
                       [&](std::uint32_t p) { return p >= 5 && p + motif_length <= 125; });
      ASSERT_EQ(found, in_window != expected_positions.end() ? 1 : 0);
      if (found == 1) {
        EXPECT_EQ(first, *in_window);
        EXPECT_EQ(
            first_direction,
            expected_directions[static_cast<std::size_t>(in_window - expected_positions.begin())]);
      }
    }
  }
}

}  // namespace
