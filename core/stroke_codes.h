// The events the host database knows (table Nage), loaded once per import
// so each performance line is checked without a query.
#pragma once

namespace ondival {

void charge_nages();

}  // namespace ondival
