/* A second unit: parameters, locals and a block of its own. */
#include "shapes.h"

static unsigned int visits;

int walk(struct node *first, int depth) {
    int seen = 0;
    struct node *n;
    for (n = first; n != 0 && seen < depth; n = n->next) {
        union word w = n->word;
        seen = seen + w.halves.low;
        {
            enum colour c = n->colour;
            if (c == GREEN) seen++;
        }
    }
    visits++;
    return seen;
}
