# Sourced by the scripts that run the suite (tools/test.sh,
# tools/coverage.sh): starts a throwaway PostgreSQL server on the loopback
# address for the end-to-end tests' second engine, exports its address, and
# stops it when the script exits, whatever happens. ONDIVAL_SKIP_POSTGRES=1
# leaves it out.
pg_dir=""
stop_test_server() {
  if [ -n "$pg_dir" ]; then tools/pg_server.sh stop "$pg_dir"; fi
}
trap stop_test_server EXIT
if [ "${ONDIVAL_SKIP_POSTGRES:-0}" != 1 ]; then
  pg_dir=$(mktemp -d /tmp/ondival-pg.XXXXXX)
  tools/pg_server.sh start "$pg_dir"
  ONDIVAL_TEST_PG_URI=$(cat "$pg_dir/uri")
  export ONDIVAL_TEST_PG_URI
  export ONDIVAL_REQUIRE_POSTGRES=1
fi
