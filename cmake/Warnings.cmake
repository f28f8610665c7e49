# Warnings are errors on every target.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wformat=2 -Werror)
