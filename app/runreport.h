#pragma once

#include "soakreport.h"
#include "transactions.h"

#include <memory>

// A soak report of one run of the test tools: a transaction model of its own, so the run's
// counts start at zero, and the file its rows stream to.
struct RunReport
{
    std::unique_ptr<TransactionModel> model;
    SoakReport report;
};
