# One minute of the fault soak (scripts/soak): fault episodes at random on
# the line and keys at random; rxmon must find the scanner again after
# each, never end, and keep its memory, descriptors and threads flat. The
# seed is printed, so that a failing run can be repeated.
set -u
exec bash "$(dirname "$0")/../../scripts/soak" 60 "$1"
