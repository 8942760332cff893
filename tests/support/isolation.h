// Every test runs in its own object directory and its own registry files, so tests run in
// parallel and never touch a kit that someone runs on the same machine.
#pragma once

#include <gtest/gtest.h>

#include <string>

class IsolatedTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The per-test scratch directory (objects/, machine.reg, user.reg and users.db live in it).
  const std::string& scratch() const { return scratch_; }
  std::string objectFile(const std::string& name) const;

 private:
  std::string scratch_;
};
